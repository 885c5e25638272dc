# Installed files and the packages: a .deb for Debian (lintian-clean) and a .zip for Windows.
# The version comes from project(VERSION) alone and reaches the manual page, the Debian
# changelog and the package names from here.
set(AAMSG_MAINTAINER "aamsg developers <aamsg@example.org>" CACHE STRING
    "Name and address of whoever builds the Debian package")

configure_file(docs/aamsg.1.in ${PROJECT_BINARY_DIR}/aamsg.1 @ONLY)

if(WIN32)
  install(TARGETS aamsg RUNTIME DESTINATION .)
  # A manual that Windows can open, next to the licence and the README.
  find_program(AAMSG_GROFF groff REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/aamsg-manual.txt
    COMMAND ${AAMSG_GROFF} -man -Tascii -P-cbou ${PROJECT_BINARY_DIR}/aamsg.1 > ${PROJECT_BINARY_DIR}/aamsg-manual.txt
    DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1 VERBATIM)
  add_custom_target(aamsg_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/aamsg-manual.txt)
  install(FILES LICENSE README.md docs/message-format.md ${PROJECT_BINARY_DIR}/aamsg-manual.txt
                packaging/windows/THIRD-PARTY.txt DESTINATION .)
  # The statically linked libraries' licence texts (LGPL for libsndfile and libsoxr).
  if(AAMSG_THIRD_PARTY)
    install(DIRECTORY ${AAMSG_THIRD_PARTY}/licences/ DESTINATION third-party)
  endif()
else()
  install(TARGETS aamsg RUNTIME DESTINATION bin)
  find_program(AAMSG_GZIP gzip REQUIRED)
  configure_file(packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
  # Debian wants both compressed, and reproducibly (-n: no name or time stamp).
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/aamsg.1.gz ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND ${AAMSG_GZIP} -9nkf ${PROJECT_BINARY_DIR}/aamsg.1 ${PROJECT_BINARY_DIR}/changelog
    DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1 ${PROJECT_BINARY_DIR}/changelog VERBATIM)
  add_custom_target(aamsg_compressed_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/aamsg.1.gz ${PROJECT_BINARY_DIR}/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/aamsg.1.gz DESTINATION share/man/man1)
  install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION share/doc/aamsg)
endif()

set(CPACK_PACKAGE_NAME aamsg)
set(CPACK_PACKAGE_VENDOR "the aamsg developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter for auto-attendant message files")
set(CPACK_PACKAGE_CONTACT "${AAMSG_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # CPack puts the summary on the first line and indents these lines under it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "aamsg converts between audio files and the message files that a telephone
system's automated attendant plays: bare streams of 4-bit IMA ADPCM codes at
8000 samples per second, without a header.

Its best encoder reads any audio file libsndfile reads (WAVE, AIFF, FLAC,
Ogg, MP3, ...), converts the rate with libsoxr and searches for the codes the
format's decoder reproduces most closely. Its exact encoder and decoder match
the format's historical tools to the bit. Console messages and exit codes are
fixed, for scripts that convert many files.")
endif()
include(CPack)
