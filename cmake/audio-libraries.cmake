# libsndfile and libsoxr for `q`. On Linux: Debian's shared libraries (libsndfile1-dev,
# libsoxr-dev). For Windows and WebAssembly: the static libraries cmake/third-party.sh builds
# from Debian's sources into the prefix AAMSG_THIRD_PARTY.
set(AAMSG_THIRD_PARTY "" CACHE PATH "Prefix of static libsndfile and libsoxr builds (Windows, WebAssembly)")
find_package(PkgConfig REQUIRED)
add_library(aamsg_sndfile INTERFACE)
add_library(aamsg_soxr INTERFACE)
if(AAMSG_THIRD_PARTY)
  set(ENV{PKG_CONFIG_LIBDIR} ${AAMSG_THIRD_PARTY}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  # libsndfile and its codec libraries (FLAC, Ogg, Vorbis, Opus, MPEG), in the order a static
  # link needs, asked at every configure rather than cached: a new build of the prefix may bring
  # other libraries. It configures and links again.
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --static --libs sndfile OUTPUT_VARIABLE sndfile_libraries
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(sndfile_libraries UNIX_COMMAND "${sndfile_libraries}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${AAMSG_THIRD_PARTY}/lib/pkgconfig/sndfile.pc)
  target_include_directories(aamsg_sndfile INTERFACE ${AAMSG_THIRD_PARTY}/include)
  target_link_libraries(aamsg_sndfile INTERFACE ${sndfile_libraries})
  set_property(TARGET aamsg_sndfile APPEND PROPERTY INTERFACE_LINK_DEPENDS ${AAMSG_THIRD_PARTY}/.complete)
  if(MINGW)
    # libopus's configure builds with _FORTIFY_SOURCE, whose checks live in libssp there.
    target_link_libraries(aamsg_sndfile INTERFACE ssp)
  endif()
  target_include_directories(aamsg_soxr INTERFACE ${AAMSG_THIRD_PARTY}/include)
  target_link_libraries(aamsg_soxr INTERFACE ${AAMSG_THIRD_PARTY}/lib/libsoxr.a)
else()
  pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
  target_link_libraries(aamsg_sndfile INTERFACE PkgConfig::SNDFILE)
  target_link_libraries(aamsg_soxr INTERFACE PkgConfig::SOXR)
endif()
