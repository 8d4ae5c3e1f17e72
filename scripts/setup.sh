#!/bin/sh
# Installs, from Debian's packages, every program that the build, the tests,
# the try (unshare, mount, ip) and the README's author road (curl) run and
# this machine lacks, down to a minimal Debian; ccache lets every course's build
# tree share the installer's objects. Safe to run again: it
# installs nothing twice.
set -eu
packages="cmake ninja-build g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
  googletest libgtest-dev libbenchmark-dev libssl-dev openssl zlib1g-dev
  python3 python3-packaging python3-cryptography python3-pip python3-setuptools python3-wheel
  clang libclang-rt-14-dev osslsigncode tmux util-linux mount iproute2 curl ca-certificates ccache"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086 # one word per package
  apt-get install -y -qq $missing
fi
