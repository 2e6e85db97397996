# Installation and the Debian package: `cmake --install BUILD [--prefix P]`
# puts the program, its manual page, its bash completion and its documents
# in the usual places under P; `cpack -G DEB` (run in BUILD) makes a .deb of
# the same tree under /usr, with the libraries it needs found by
# dpkg-shlibdeps. Only the program is installed: tests, benchmarks and fuzz
# targets stay in the build tree. Included at the end of CMakeLists.txt.
include(GNUInstallDirs)

install(TARGETS qex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT WIN32)
  # The manual page carries the project's version.
  set(QEX_VERSION ${PROJECT_VERSION})
  configure_file(${CMAKE_SOURCE_DIR}/doc/qex.1.in ${CMAKE_BINARY_DIR}/qex.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/qex.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/completion/qex.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qex)

  set(CPACK_PACKAGE_NAME qex)
  set(CPACK_PACKAGE_VENDOR "the qex developers")
  # A packager names themselves with -DCPACK_PACKAGE_CONTACT="Name <address>".
  if(NOT CPACK_PACKAGE_CONTACT)
    set(CPACK_PACKAGE_CONTACT "the qex developers")
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
