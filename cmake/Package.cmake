# The Debian package telvane_<version>_amd64.deb, built by `cpack -G DEB` in a
# build folder (scripts/package does it on a Release build). It holds what
# `cmake --install` installs under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Belmora")
set(CPACK_PACKAGE_CONTACT "Telvane maintainers <telvane@belmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and control program for Divadiduv electronics crates")
set(CPACK_PACKAGE_DESCRIPTION
    "Telvane commands crate control boards over RS485 serial buses, TCP crate
servers and CAN, decodes their replies with decode files written in a small
C-like language, writes firmware into many crates at once, watches CAN
nodes, shares a crate link with network clients and runs a small VME data
acquisition. The package holds the desktop program telvane, the command-line
program telvane-cli, the crate simulator telvane-sim and the access tool
brenlock.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link, with their versions, as dpkg-shlibdeps
# finds them; never written by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load with dlopen or run, dpkg-shlibdeps cannot see: it
# goes here by hand, with the reason. libcurl.so.4 is opened on the first
# download (firmware pages, catalogues, self-update), not linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4")
# The desktop program opens decode files in the desktop's editor.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# brenlock changes access lists: getfacl shows what it did.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "acl")

include(CPack)
