#!/usr/bin/env bash
# Puts Debian's own source of expat, with Debian's patches applied, in
# FOLDER/source, for the Windows build to compile (Debian has no mingw build
# of expat). apt fetches it and checks it against bookworm's signed indexes;
# its lists and downloads stay in FOLDER, so the system's apt configuration is
# neither read nor changed. Once unpacked, nothing is fetched again.
#   scripts/expat-source.sh FOLDER
set -euo pipefail
folder=$(mkdir -p "$1" && cd "$1" && pwd)
if [[ -f $folder/source.version ]]; then
    exit 0
fi

apt_dir=$folder/apt
rm -rf "$apt_dir" "$folder/source"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts" \
    "$apt_dir/download"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian bookworm main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security bookworm-security main
EOF
apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/parts"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache=$apt_dir/cache"
    -o "APT::Sandbox::User=$(id -un)"
)
apt-get -qq "${apt_options[@]}" update

# The newest version the indexes give (a security update first); where a
# mirror no longer holds its files, the next one.
mapfile -t versions < <(apt-cache "${apt_options[@]}" showsrc expat |
    sed -n 's/^Version: //p' | sort -r -V -u)
cd "$apt_dir/download"
for version in "${versions[@]}"; do
    rm -f ./*
    if apt-get -qq "${apt_options[@]}" source --download-only "expat=$version" >&2; then
        # apt has checked each file against the signed index; dpkg-source
        # would look for the uploader's key too, which no keyring here holds.
        dpkg-source --no-check -x ./*.dsc source >&2
        mv source "$folder/source"
        cd "$folder"
        rm -rf "$apt_dir"
        echo "$version" >"$folder/source.version"
        echo "expat-source: Debian's expat $version in $folder/source" >&2
        exit 0
    fi
    echo "expat-source: expat $version could not be fetched; trying an older one" >&2
done
echo "expat-source: no version of Debian's expat source could be fetched" >&2
exit 1
