# The library: include/aamsg.h over the conversions, as a shared library (libaamsg.so.0, or
# libaamsg.dll with its import library libaamsg.dll.a) and a static one (libaamsg.a), both
# holding every layer. The web module links the static one and has no shared one.
configure_file(${PROJECT_SOURCE_DIR}/include/aamsg_version.h.in ${PROJECT_BINARY_DIR}/include/aamsg_version.h @ONLY)

set(AAMSG_LAYERS aamsg_base aamsg_io aamsg_wave aamsg_search aamsg_prompt aamsg_audio aamsg_convert)
set(AAMSG_API_SOURCES src/api/call.cpp src/api/files.cpp src/api/memory.cpp src/api/streams.cpp src/api/samples.cpp
                      src/api/options.cpp src/api/report.cpp src/api/status.cpp src/api/threads.cpp src/api/version.cpp
                      src/api/inspect.cpp src/api/findings.cpp)

function(aamsg_library target type)
  add_library(${target} ${type} ${AAMSG_API_SOURCES})
  foreach(layer IN LISTS AAMSG_LAYERS)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${layer}>)
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                              $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
                                       PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE aamsg_ffmpeg aamsg_soxr Threads::Threads)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME aamsg)
endfunction()

aamsg_library(aamsg_static STATIC)
if(MINGW)
  set_target_properties(aamsg_static PROPERTIES SUFFIX .a)
endif()

if(NOT EMSCRIPTEN)
  aamsg_library(aamsg_shared SHARED)
  set_target_properties(aamsg_shared PROPERTIES SOVERSION 0 VERSION ${PROJECT_VERSION})
  # Its own functions exported; a program that links it imports them (on Windows through
  # dllimport, which AAMSG_SHARED asks for).
  target_compile_definitions(aamsg_shared PRIVATE AAMSG_BUILDING_SHARED INTERFACE AAMSG_SHARED)
  if(WIN32)
    # A DLL that needs no C++ runtime beside it; its import library apart from the static one.
    set_target_properties(aamsg_shared PROPERTIES IMPORT_SUFFIX .dll.a)
    target_link_options(aamsg_shared PRIVATE -static -s)
  else()
    # Hidden visibility leaves out our own symbols, but instances of the standard library's
    # templates would still be exported: the version script keeps only aamsg_*.
    target_link_options(aamsg_shared PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/aamsg.map
                        -Wl,-z,relro,-z,now)
    set_property(TARGET aamsg_shared APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/aamsg.map)
  endif()
endif()

# For the tests, fuzzers and benchmarks, which reach inside: every layer, with its headers.
add_library(aamsg_internals INTERFACE)
target_include_directories(aamsg_internals INTERFACE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(aamsg_internals INTERFACE aamsg_static)
