# What `cmake --install` puts where: the tool and its manual, the library (shared and static)
# with its headers, a pkg-config file, a CMake package and the Python module. Each file belongs
# to the component of the Debian package that carries it: tool, library, development, python.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

configure_file(docs/aamsg.1.in ${PROJECT_BINARY_DIR}/aamsg.1 @ONLY)
set(AAMSG_PUBLIC_HEADERS ${PROJECT_SOURCE_DIR}/include/aamsg.h ${PROJECT_BINARY_DIR}/include/aamsg_version.h)

if(WIN32)
  # One folder to unpack: the self-contained tool and the DLL side by side, the import library
  # and the headers for programs that link the DLL, and a manual that Windows can open.
  # The DLL is named as Windows names its own, aamsg.dll, which is what programs (and Python's
  # ctypes) ask for; its import library keeps the name the linker looks for, libaamsg.dll.a.
  set_target_properties(aamsg_shared PROPERTIES PREFIX "")
  install(TARGETS aamsg RUNTIME DESTINATION . COMPONENT tool)
  install(TARGETS aamsg_shared RUNTIME DESTINATION . COMPONENT library
                               ARCHIVE DESTINATION lib COMPONENT development)
  install(FILES ${AAMSG_PUBLIC_HEADERS} DESTINATION include COMPONENT development)
  find_program(AAMSG_GROFF groff REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/aamsg-manual.txt
    COMMAND ${AAMSG_GROFF} -man -Tascii -P-cbou ${PROJECT_BINARY_DIR}/aamsg.1 > ${PROJECT_BINARY_DIR}/aamsg-manual.txt
    DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1 VERBATIM)
  add_custom_target(aamsg_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/aamsg-manual.txt)
  install(FILES LICENSE README.md docs/message-format.md ${PROJECT_BINARY_DIR}/aamsg-manual.txt
          DESTINATION . COMPONENT tool)
  # The statically linked libraries (LGPL: FFmpeg and libsoxr): their licence texts, and a note
  # naming the Debian source packages they were built from, as cmake/third-party.sh recorded them.
  if(AAMSG_THIRD_PARTY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${AAMSG_THIRD_PARTY}/sources.txt)
    # A line "ffmpeg 5.1.9-0+deb12u1" sets AAMSG_FFMPEG_SOURCE (Debian's version) and
    # AAMSG_FFMPEG_VERSION (the upstream one); "libsoxr ..." AAMSG_SOXR_*.
    file(STRINGS ${AAMSG_THIRD_PARTY}/sources.txt third_party_sources)
    foreach(line IN LISTS third_party_sources)
      if(line MATCHES "^(lib)?([a-z0-9]+) (([^-]+)(-[^-]+)?)$")
        string(TOUPPER ${CMAKE_MATCH_2} key)
        set(AAMSG_${key}_SOURCE ${CMAKE_MATCH_3})
        set(AAMSG_${key}_VERSION ${CMAKE_MATCH_4})
      endif()
    endforeach()
    if(NOT AAMSG_FFMPEG_SOURCE OR NOT AAMSG_SOXR_SOURCE)
      message(FATAL_ERROR "${AAMSG_THIRD_PARTY}/sources.txt names no FFmpeg or libsoxr: build the prefix again with cmake/third-party.sh")
    endif()
    configure_file(packaging/windows/THIRD-PARTY.txt.in ${PROJECT_BINARY_DIR}/THIRD-PARTY.txt @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/THIRD-PARTY.txt DESTINATION . COMPONENT tool)
    install(DIRECTORY ${AAMSG_THIRD_PARTY}/licences/ DESTINATION third-party COMPONENT tool)
  endif()
  return()
endif()

set(AAMSG_PYTHON_DIR lib/python3/dist-packages CACHE STRING
    "Where the Python module goes, under the prefix (Debian's python3 reads lib/python3/dist-packages of /usr)")
set(AAMSG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/aamsg)

# The manual compressed as Debian wants it, reproducibly (-n: no name or time stamp).
find_program(AAMSG_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/aamsg.1.gz
  COMMAND ${AAMSG_GZIP} -9nkf ${PROJECT_BINARY_DIR}/aamsg.1
  DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1 VERBATIM)
add_custom_target(aamsg_compressed_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1.gz)

# Installed anywhere but /usr (/usr/local, ~/.local, a scratch folder), the tool finds the library
# installed beside it, without ldconfig or LD_LIBRARY_PATH; Debian's tool has no such path, as
# Debian wants.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH AAMSG_BIN_TO_LIBDIR /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(aamsg PROPERTIES INSTALL_RPATH "$ORIGIN/${AAMSG_BIN_TO_LIBDIR}")
endif()
install(TARGETS aamsg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES ${PROJECT_BINARY_DIR}/aamsg.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)

install(TARGETS aamsg_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                                     NAMELINK_COMPONENT development)
install(TARGETS aamsg_static ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${AAMSG_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# pkg-config wants absolute paths, and the prefix is only known when installing (`cmake --install
# --prefix`, or /usr for the packages): the files are written then, from templates that have
# everything else filled in, and installed by the rule after. Two modules:
# - aamsg: the shared library; with --static, everything a fully static program needs as well
#   (the libraries under FFmpeg's and libsoxr, through their own modules), for `cc -static`.
# - aamsg-static: the static library, by its file name, so that the link never takes the shared
#   one beside it; with the shared FFmpeg libraries and libsoxr, threads and the C++ runtime,
#   which a C program's link lacks (and with --static, as aamsg's, their libraries too).
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(AAMSG_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(AAMSG_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(AAMSG_PC_REQUIRES_PRIVATE "libavformat libavcodec libavutil soxr")
set(AAMSG_PC_RUNTIME "${CMAKE_THREAD_LIBS_INIT} -lstdc++ -lm")
string(STRIP "${AAMSG_PC_RUNTIME}" AAMSG_PC_RUNTIME)
set(AAMSG_PC_STATIC_LIBS "-lavformat -lavcodec -lavutil -lsoxr ${AAMSG_PC_RUNTIME}")
set(AAMSG_PC_PREFIX @AAMSG_PC_PREFIX@)
foreach(module aamsg aamsg-static)
  configure_file(cmake/${module}.pc.in ${PROJECT_BINARY_DIR}/install/${module}.pc.in @ONLY)
  install(CODE "set(AAMSG_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
configure_file(\"${PROJECT_BINARY_DIR}/install/${module}.pc.in\" \"${PROJECT_BINARY_DIR}/install/${module}.pc\" @ONLY)"
          COMPONENT development)
  install(FILES ${PROJECT_BINARY_DIR}/install/${module}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

# The CMake package finds its files relative to itself, wherever the prefix is; the library's
# file names come from the targets once they are known.
configure_package_config_file(cmake/aamsgConfig.cmake.in ${PROJECT_BINARY_DIR}/install/aamsgConfig.cmake.in
  INSTALL_DESTINATION ${AAMSG_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/install/aamsgConfig.cmake
     INPUT ${PROJECT_BINARY_DIR}/install/aamsgConfig.cmake.in)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/aamsgConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/aamsgConfig.cmake ${PROJECT_BINARY_DIR}/install/aamsgConfigVersion.cmake
        DESTINATION ${AAMSG_CMAKE_DIR} COMPONENT development)

# The module loads the library of its own prefix first, wherever that was installed: it is told
# the way there from its folder. In /usr the loader finds the library, and the Debian package of
# the module, for every architecture, must not name the folder of one.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR IS_ABSOLUTE "${AAMSG_PYTHON_DIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(AAMSG_PYTHON_TO_LIBDIR "")
else()
  file(RELATIVE_PATH AAMSG_PYTHON_TO_LIBDIR /prefix/${AAMSG_PYTHON_DIR}/aamsg /prefix/${CMAKE_INSTALL_LIBDIR})
endif()
configure_file(python/aamsg/_install.py.in ${PROJECT_BINARY_DIR}/install/_install.py @ONLY)
install(FILES python/aamsg/__init__.py python/aamsg/py.typed ${PROJECT_BINARY_DIR}/install/_install.py
        DESTINATION ${AAMSG_PYTHON_DIR}/aamsg COMPONENT python)
