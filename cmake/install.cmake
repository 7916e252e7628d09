# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts where, and the packages CPack makes from it.
#
# Elsewhere than Windows, GNUInstallDirs: the program in bin/, its manual
# page in share/man/man1/, the Debian copyright file, the README and
# THIRD-PARTY.md in share/doc/kestrin/, all below CMAKE_INSTALL_PREFIX (and DESTDIR, when set).
# `cpack -G DEB` makes kestrin_VERSION_ARCH.deb from that, for /usr, with the
# dependencies dpkg-shlibdeps finds and the manual page compressed.
#
# On Windows the install folder is what a user unpacks: kestrin.exe, the
# README and the licenses side by side; `cpack -G ZIP` zips it.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS kestrin RUNTIME DESTINATION .)
  install(FILES README.md LICENSE THIRD-PARTY.md DESTINATION .)
  # The licenses of what is linked in statically, as the build machine's
  # Debian packages record them (see THIRD-PARTY.md).
  install(FILES /usr/share/common-licenses/LGPL-2.1 DESTINATION licenses RENAME LGPL-2.1.txt)
  install(FILES /usr/share/doc/libgcrypt-mingw-w64-dev/copyright DESTINATION licenses RENAME libgcrypt.txt)
  install(FILES /usr/share/doc/libgpg-error-mingw-w64-dev/copyright DESTINATION licenses RENAME libgpg-error.txt)
  install(FILES /usr/share/doc/mingw-w64-common/copyright DESTINATION licenses RENAME mingw-w64.txt)
  install(FILES /usr/share/doc/gcc-mingw-w64-base/copyright DESTINATION licenses RENAME gcc.txt)
else()
  install(TARGETS kestrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/kestrin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian's place for the license: the machine-readable copyright file,
  # which names /usr/share/common-licenses/Apache-2.0 for the text.
  install(FILES packaging/copyright README.md THIRD-PARTY.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The Debian changelog; the package holds it gzipped (changelog.gz, as a
  # native package's).
  install(FILES packaging/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME kestrin)
set(CPACK_PACKAGE_VENDOR "the kestrin authors")
# The package's maintainer: a name and a mail address, as Debian wants them.
set(KESTRIN_PACKAGE_MAINTAINER "kestrin authors <kestrin-authors@example.org>" CACHE STRING
  "Maintainer field of the Debian package: Name <address>")
set(CPACK_PACKAGE_CONTACT "${KESTRIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ask a computer for its account domain's name and SID")
set(CPACK_PACKAGE_DESCRIPTION "kestrin asks a computer over SMB2 and DCE/RPC (the LSA on the lsarpc
pipe) for the name and security identifier of its account domain, and prints
them, or a status number that says why the query failed. It logs on
anonymously, or with the caller's Kerberos ticket or NTLM credentials, and
signs and encrypts as the server requires.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# The same sources make the same package: one time for every file
# (cmake/package-time.cmake), the folders' modes whatever the umask
# (cmake/staged-folder-modes.cmake), the zip's members in a fixed order and
# the .deb's ar members' modes fixed (cmake/normalize-package.cmake).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/compress-man-pages.cmake
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/staged-folder-modes.cmake)
set(CPACK_KESTRIN_SOURCE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/package-time.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/normalize-package.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The GSSAPI library is loaded when a logon first needs it, so
# dpkg-shlibdeps cannot see it; without it every query is anonymous.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgssapi-krb5-2")
# NTLM logons need the mechanism, a ticket needs kinit; neither is required.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gss-ntlmssp, krb5-user")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)

if(KESTRIN_TESTS AND NOT WIN32)
  # Installs this build into a DESTDIR, runs the installed program against a
  # test server and lints the manual page; the server part skips without root.
  add_test(NAME install COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/install/install_test.sh
    ${CMAKE_BINARY_DIR})
  set_tests_properties(install PROPERTIES LABELS "servers" RESOURCE_LOCK kestrin_test_servers)
  if(KESTRIN_SANITIZE)
    set_property(TEST install APPEND PROPERTY ENVIRONMENT
      "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  endif()
endif()
