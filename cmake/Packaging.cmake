# The Debian package (scripts/package-deb.sh runs `cpack -G DEB`): the window, tavrin-harvest, the
# desktop entry, the icon and the AppStream metadata, installed under /usr. The libraries it needs
# are found by dpkg-shlibdeps; Qt's platform plugins come with libqt6gui6.
set(CPACK_PACKAGE_NAME tavrin)
# The one version, which the caption and the AppStream release name too.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "${TAVRIN_AUTHOR}")
set(CPACK_PACKAGE_CONTACT "${TAVRIN_AUTHOR} <tavrin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collects the pictures your browser caches while you browse")
set(CPACK_PACKAGE_DESCRIPTION
    "While you browse, Tavrin copies every picture that your browser puts into its disk cache into a
folder you choose, and shows that folder filling as thumbnails. It reads the caches of
Chromium-family browsers and Firefox and never changes them. tavrin-harvest does the same from
the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SQLite reads Chromium's SQL cache: named here, whatever the programs' symbols tell
# dpkg-shlibdeps (which adds the version they require).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0")
# WebP and other formats beyond Qt's own shown as thumbnails.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins")
set(CPACK_GENERATOR DEB)
include(CPack)
