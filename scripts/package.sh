#!/usr/bin/env bash
# Builds the Debian package from scratch in build-package/, as a release build
# with Debian's hardening flags, checks it with lintian, appstreamcli and
# desktop-file-validate, and prints the path of the .deb as its last line.
#   scripts/package.sh [-DKQGET_INFO_BASE=https://... -DKQGET_IMAGE_BASE=https://...]
#   scripts/package.sh --install-tools    only install the packaging tools
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

tools=(dpkg-dev lintian appstream desktop-file-utils)
if [[ "${1:-}" == --install-tools ]]; then
    exec bash scripts/deps.sh "${tools[@]}"
fi
bash scripts/deps.sh "${tools[@]}" >&2

build=build-package
rm -rf "$build"
# CMake reads CXXFLAGS and LDFLAGS but not CPPFLAGS, which carries
# _FORTIFY_SOURCE; the build type None adds nothing of its own to them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DKQGET_BUILD_TESTS=OFF -DKQGET_BUILD_BENCH=OFF "$@" >&2
cmake --build "$build" -j2 >&2
cmake --build "$build" --target package >&2

deb=$(ls "$build"/kqget_*.deb)
unpacked="$build/unpacked"
dpkg-deb -x "$deb" "$unpacked"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml >&2
desktop-file-validate "$unpacked"/usr/share/applications/kqget.desktop >&2
# Errors fail the build; warnings and information are shown for the record.
lintian --fail-on error --display-info "$deb" >&2
echo "$root/$deb"
