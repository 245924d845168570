#!/usr/bin/env bash
# Installs the Debian packages kqget needs to build and test, only those missing.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libcurl4-openssl-dev
    libspng-dev libexpat1-dev zlib1g-dev
    libgtest-dev libgmock-dev
    libcpp-httplib-dev
    libssl-dev openssl ca-certificates
    fonts-dejavu-core
    fonts-liberation2
    "$@"
)

# Scripts that run side by side (scripts/test.sh --all, .ci/run) take turns
# here, since only one of them can hold the package manager's lock.
exec 9>"${TMPDIR:-/tmp}/kqget-deps.lock"
flock 9

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "deps: installing ${missing[*]}" >&2
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
