# Installation and the Debian package: `cmake --install BUILD [--prefix P]`
# puts the program, its manual page, its bash completion and its documents
# in the usual places under P; `cpack -G DEB` (run in BUILD) makes a .deb of
# the same tree under /usr, with the libraries it needs found by
# dpkg-shlibdeps. Only the program is installed: tests, benchmarks and fuzz
# targets stay in the build tree. `cmake --install BUILD --strip` strips the
# program, as the package does. The manual page is installed gzipped, and
# the documents include a Debian `copyright` file made from LICENSE.
# Included at the end of CMakeLists.txt.
include(GNUInstallDirs)

install(TARGETS qex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT WIN32)
  # The manual page carries the project's version; it is gzipped without a
  # name or time stamp in the gzip header, so the same page gives the same
  # bytes.
  set(QEX_VERSION ${PROJECT_VERSION})
  configure_file(${CMAKE_SOURCE_DIR}/doc/qex.1.in ${CMAKE_BINARY_DIR}/qex.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/qex.1.gz
                     COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/qex.1 > ${CMAKE_BINARY_DIR}/qex.1.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/qex.1 VERBATIM)
  add_custom_target(qex_manual_page ALL DEPENDS ${CMAKE_BINARY_DIR}/qex.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/qex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian's machine-readable copyright file: the licence of every file.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE QEX_LICENSE_TEXT)
  string(REGEX REPLACE "\n$" "" QEX_LICENSE_TEXT "${QEX_LICENSE_TEXT}")
  string(REGEX REPLACE "\n\n" "\n.\n" QEX_LICENSE_TEXT "${QEX_LICENSE_TEXT}")
  string(REGEX REPLACE "\n" "\n " QEX_LICENSE_TEXT "${QEX_LICENSE_TEXT}")
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: qex\n\n"
       "Files: *\n"
       "Copyright: 2026 the qex developers\n"
       "License: Expat\n ${QEX_LICENSE_TEXT}\n")
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/completion/qex.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qex)

  set(CPACK_PACKAGE_NAME qex)
  set(CPACK_PACKAGE_VENDOR "the qex developers")
  # The project's own address; a packager names themselves with
  # -DCPACK_PACKAGE_CONTACT="Name <address>".
  if(NOT CPACK_PACKAGE_CONTACT)
    set(CPACK_PACKAGE_CONTACT "qex developers <qex-developers@example.org>")
  endif()
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file archiver with an order-8 context model")
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
      "qex stores a folder tree, a folder's contents or the items matching a\n"
      "wildcard mask in one archive, with names, attributes, time stamps and\n"
      "CRC-32 check values. All file contents are compressed as one stream by\n"
      "an order-8 context model driving a range coder.")
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
  include(CPack)
endif()
