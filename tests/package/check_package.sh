#!/usr/bin/env bash
# Usage: check_package.sh BUILD_DIR WORK_DIR WITH_WINDOW(0|1)
# Packs BUILD_DIR with cpack, checks the package as lintian and appstreamcli
# see it, unpacks it into WORK_DIR/root and runs the programs from there.
set -euo pipefail
build=$1 work=$2 with_window=$3

fail() {
    echo "package check: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/kqget_*_*.deb)

depends=$(dpkg-deb --field "$deb" Depends)
[[ "$depends" == *libcurl4* ]] || fail "Depends lacks libcurl4, which the first fetch loads: '$depends'"

root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/kqget-cli usr/share/man/man1/kqget-cli.1.gz usr/share/doc/kqget/copyright; do
    [[ -f "$root/$file" ]] || fail "$file is not in the package"
done

grep -qx 'License: Expat' "$root/usr/share/doc/kqget/copyright" ||
    fail "the copyright file names no licence: $(cat "$root/usr/share/doc/kqget/copyright")"

cli="$root/usr/bin/kqget-cli"
"$cli" --version | grep -qx 'kqget [0-9.]*' || fail "kqget-cli --version: $("$cli" --version 2>&1)"
help=$("$cli" --help) || fail "kqget-cli --help failed"
[[ "$help" == "Usage: kqget-cli "* && "$help" == *"MIT License"* ]] || fail "kqget-cli --help: $help"
# Every option the program knows is in its manual page (troff writes - as \-).
manual=$(gzip -dc "$root/usr/share/man/man1/kqget-cli.1.gz")
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qF -- "${option//-/\\-}" <<<"$manual" || fail "kqget-cli(1) does not mention $option"
done
# A man page with a syntax error shows the error in place of the text.
MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/kqget-cli.1.gz" 2>"$work/man.err" >/dev/null
[[ ! -s "$work/man.err" ]] || fail "kqget-cli(1): $(cat "$work/man.err")"

if [[ "$with_window" == 1 ]]; then
    "$root/usr/bin/kqget" --version | grep -qx 'kqget [0-9.]*' || fail "kqget --version"
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >&2
    desktop-file-validate "$root/usr/share/applications/kqget.desktop"
fi
lintian --fail-on error "$deb" >&2 || fail "lintian found errors in $deb"
echo "package check: $deb"
