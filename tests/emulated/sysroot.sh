#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks what building and running for another Debian architecture takes
# into DEST, with apt in a folder of its own: the system's apt is untouched.
#   tests/emulated/sysroot.sh ARCH DEST
set -euo pipefail
arch=${1:?usage: sysroot.sh ARCH DEST} dest=${2:?usage: sysroot.sh ARCH DEST}
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
work=$dest.tmp
rm -rf "$work"
mkdir -p "$work"/apt/sources "$work"/apt/lists/partial "$work"/apt/cache/archives/partial
cd "$work"
echo "deb [arch=$arch signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "http://deb.debian.org/debian $release main" >apt/sources/"$release-$arch".list
apt=(apt-get -qq -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$PWD/apt/sources"
    -o Dir::State::Lists="$PWD/apt/lists" -o Dir::Cache="$PWD/apt/cache"
    -o Dir::State::status=/dev/null -o APT::Sandbox::User=root
    -o APT::Architecture="$arch" -o APT::Architectures::="$arch")
"${apt[@]}" update
"${apt[@]}" install -y --download-only --no-install-recommends \
    libc6-dev libsdl1.2-dev libgl-dev libglu1-mesa-dev libgtest-dev libgl1-mesa-dri >/dev/null
mkdir root
for deb in apt/cache/archives/*.deb; do
    dpkg-deb -x "$deb" root
done
# Merged /usr, as the C library's linker script and interpreter name expect.
for d in bin lib sbin; do
    [ -e root/$d ] || ln -s usr/$d root/$d
done
cd ..
rm -rf "$dest"
mv "$work/root" "$dest"
rm -rf "$work"
