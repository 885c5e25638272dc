# The packages: on Linux the Debian packages aamsg (the tool), libaamsg0, libaamsg-dev and
# python3-aamsg, which packaging/debian/build-debs.sh makes from this build's install components;
# on Windows one .zip, which CPack makes. The version comes from project(VERSION) alone and
# reaches the manual page, the Debian changelog and the package names from here.
set(AAMSG_MAINTAINER "aamsg developers <aamsg@example.org>" CACHE STRING
    "Name and address of whoever builds the Debian packages")

include(cmake/install.cmake)

if(WIN32)
  set(CPACK_PACKAGE_NAME aamsg)
  set(CPACK_PACKAGE_VENDOR "the aamsg developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter for auto-attendant message files")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
  include(CPack)
  return()
endif()

# The packages hold the files where Debian keeps them (the library under /usr/lib/<multiarch>),
# which GNUInstallDirs chooses only for a build configured with the prefix /usr.
configure_file(packaging/debian/control.in ${PROJECT_BINARY_DIR}/deb/debian/control @ONLY)
configure_file(packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/deb/debian/changelog @ONLY)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  add_custom_target(debs
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/debian/build-debs.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/deb VERBATIM)
  add_dependencies(debs aamsg aamsg_shared aamsg_static aamsg_compressed_manual)
else()
  add_custom_target(debs
    COMMAND ${CMAKE_COMMAND} -E echo "The Debian packages are made from a build configured with -DCMAKE_INSTALL_PREFIX=/usr (make package)"
    COMMAND ${CMAKE_COMMAND} -E false VERBATIM)
endif()
