# The Debian package (scripts/package.sh: `cpack -G DEB` in a build
# configured with CMAKE_INSTALL_PREFIX=/usr): whatever the install rules
# install, with the dependencies dpkg-shlibdeps finds for the programs and
# modules (libssl3, libp11-kit0, libsqlite3-0, the C and C++ runtimes).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tokencert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tokencert maintainers <maintainers@users.noreply.c-seed-c6b26ccd.example>"
    CACHE STRING "The package's maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GOST certificates and key pairs on PKCS#11 tokens")
set(CPACK_PACKAGE_DESCRIPTION "tokencert imports X.509 certificates and GOST key pairs (from PKCS#12
containers) onto PKCS#11 tokens, lists, prints, exports and removes them.
The package also holds the OpenSSL engine and provider zk_p11_core_2012
(GOST 28147-89, GOST R 34.11 and GOST R 34.10, token keys by pkcs11: URI)
and softtoken, a GOST software token registered with p11-kit, with its
set-up tool softtoken-util.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS p11-kit)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Install rules with an absolute destination are staged under DESTDIR too.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
