# FFmpeg's libavformat, libavcodec and libavutil (q's reader) and libsoxr (its rate conversion).
# On Linux: Debian's shared libraries (libavformat-dev, libavcodec-dev, libavutil-dev,
# libsoxr-dev). For Windows, WebAssembly and other CPUs: the static libraries
# cmake/third-party.sh builds from Debian's sources into the prefix AAMSG_THIRD_PARTY, with only
# the components src/audio/ffmpeg_components.txt lists.
set(AAMSG_THIRD_PARTY "" CACHE PATH "Prefix of static FFmpeg and libsoxr builds (Windows, WebAssembly, other CPUs)")
find_package(PkgConfig REQUIRED)
add_library(aamsg_ffmpeg INTERFACE)
add_library(aamsg_soxr INTERFACE)
set(AAMSG_FFMPEG_MODULES libavformat libavcodec libavutil)
if(AAMSG_THIRD_PARTY)
  set(ENV{PKG_CONFIG_LIBDIR} ${AAMSG_THIRD_PARTY}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  # The libraries and what they need, in the order a static link needs, asked at every configure
  # rather than cached: a new build of the prefix may bring other libraries. It configures and
  # links again.
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --static --libs ${AAMSG_FFMPEG_MODULES} OUTPUT_VARIABLE ffmpeg_libraries
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(ffmpeg_libraries UNIX_COMMAND "${ffmpeg_libraries}")
  foreach(module IN LISTS AAMSG_FFMPEG_MODULES)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${AAMSG_THIRD_PARTY}/lib/pkgconfig/${module}.pc)
  endforeach()
  # As system headers, as Debian's are: their own conversions are not ours to warn about.
  target_include_directories(aamsg_ffmpeg SYSTEM INTERFACE ${AAMSG_THIRD_PARTY}/include)
  target_link_libraries(aamsg_ffmpeg INTERFACE ${ffmpeg_libraries})
  # The libraries are the library's own copies: the reader may set their process-wide limits.
  target_compile_definitions(aamsg_ffmpeg INTERFACE AAMSG_PRIVATE_FFMPEG=1)
  set_property(TARGET aamsg_ffmpeg APPEND PROPERTY INTERFACE_LINK_DEPENDS ${AAMSG_THIRD_PARTY}/.complete)
  target_include_directories(aamsg_soxr SYSTEM INTERFACE ${AAMSG_THIRD_PARTY}/include)
  target_link_libraries(aamsg_soxr INTERFACE ${AAMSG_THIRD_PARTY}/lib/libsoxr.a)
else()
  pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET ${AAMSG_FFMPEG_MODULES})
  pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
  target_link_libraries(aamsg_ffmpeg INTERFACE PkgConfig::FFMPEG)
  target_link_libraries(aamsg_soxr INTERFACE PkgConfig::SOXR)
endif()

# The demuxers and decoders q allows, from the one list, as the comma-separated lists FFmpeg's
# whitelists take: a header generated at configure time (and again when the list changes).
set(AAMSG_COMPONENTS ${PROJECT_SOURCE_DIR}/src/audio/ffmpeg_components.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${AAMSG_COMPONENTS})
file(STRINGS ${AAMSG_COMPONENTS} component_lines REGEX "^[a-z]+ [a-z0-9_]+$")
set(AAMSG_FFMPEG_DEMUXERS "")
set(AAMSG_FFMPEG_DECODERS "")
foreach(line IN LISTS component_lines)
  string(REGEX REPLACE "^([a-z]+) ([a-z0-9_]+)$" "\\1;\\2" parts "${line}")
  list(GET parts 0 kind)
  list(GET parts 1 name)
  if(kind STREQUAL "demuxer")
    list(APPEND AAMSG_FFMPEG_DEMUXERS ${name})
  elseif(kind STREQUAL "decoder")
    list(APPEND AAMSG_FFMPEG_DECODERS ${name})
  elseif(NOT kind STREQUAL "parser")
    message(FATAL_ERROR "${AAMSG_COMPONENTS}: unknown kind '${kind}'")
  endif()
endforeach()
string(REPLACE ";" "," AAMSG_FFMPEG_DEMUXERS "${AAMSG_FFMPEG_DEMUXERS}")
string(REPLACE ";" "," AAMSG_FFMPEG_DECODERS "${AAMSG_FFMPEG_DECODERS}")
configure_file(${PROJECT_SOURCE_DIR}/src/audio/ffmpeg_components.hpp.in ${PROJECT_BINARY_DIR}/generated/audio/ffmpeg_components.hpp @ONLY)
