# The packages: on Windows one .zip, which CPack makes. The version comes from project(VERSION)
# alone and reaches the manual page, the Debian changelog and the package names from here.
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

# Debian packages to come; for now the install components above.
