# The Debian package: `cmake --build build --target package`, or
# scripts/package.sh for a clean release build checked by lintian.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kqget)
# Debian's version has three parts; the fourth of the project's is Windows'.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kqget developers <kqget@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the libraries the programs link, as dpkg-shlibdeps finds
# them, and libcurl, which the first fetch loads (libcurl.so.4, the OpenSSL
# build whose headers kqget is compiled against): shlibdeps cannot see it.
# 7.84.0 is the first whose curl_easy_header() is stable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.84.0)")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair the card library of the KQ card game client")
# CPack puts the summary above this as the synopsis line.
set(CPACK_PACKAGE_DESCRIPTION
    "kqget walks the card folders of the KQ client's data folder and fetches
again, from the card service, every card description that is empty or
absent and every illustration that is absent or too small. Everything it
sees and does goes into a plain-text run log.
.
The package holds the window, kqget, and the headless command for
scripts, kqget-cli.")
include(CPack)
