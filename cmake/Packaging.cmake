# Debian package: cpack -G DEB in a build directory (scripts/package.sh does it all).
set(CPACK_PACKAGE_NAME quellmark)
set(CPACK_PACKAGE_VENDOR "The Quellmark developers")
set(CPACK_PACKAGE_CONTACT "The Quellmark developers <quellmark@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shows where files came from (macOS provenance and quarantine)")
# Lines of at most 80 columns, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "Quellmark reads the macOS extended attributes com.apple.provenance and
com.apple.quarantine of applications, of every entry below a folder and of
dropped files, and shows which application a file belongs to and which program
downloaded it. On Linux it reads them from files copied from a Mac, Samba and
netatalk shares and mounted Mac disks. Includes the command-line front end
quellmark-cli.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUELLMARK_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps; the platform plugins and the emoji font are loaded at
# run time, and xdg-open (Open Containing Folder) is run, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-noto-color-emoji, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "attr")

include(CPack)
