# The Debian package (scripts/package): cpack -G DEB in a build configured
# without the tests and benchmarks. The libraries the two programs link
# become dependencies through dpkg-shlibdeps; the packages below are what
# they need at run time without linking it.
set(CPACK_PACKAGE_NAME kelvaro-helper)
set(CPACK_PACKAGE_VENDOR "Ulvaren")
set(CPACK_PACKAGE_CONTACT "Ulvaren <support@ulvaren.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "look up, play and save recordings of the Kelvaro karaoke community")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvaro Helper (Kelvaro辅助工具 V3.0) looks up a recording's page of the Kelvaro karaoke community, shows the song's details, plays it online, saves it as an MP3 file and lists a singer's works. Every text it shows is Simplified Chinese.")
set(CPACK_PACKAGE_HOMEPAGE_URL "${KELVARO_SITE_URL}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The audio and the download libraries are opened at run time (libmpv.so.2,
# libcurl.so.4), so dpkg-shlibdeps cannot see them. The window needs an X11 or Wayland platform plugin and a
# font with Chinese characters; Qt's own dialog texts come in Chinese from
# the translations.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libmpv2, libcurl4, qt6-qpa-plugins, fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
# Opening the forum, the music video page and the file manager.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

include(CPack)
