#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Parlex2 need, when
# any is missing. Sourced by run.sh and test.sh.
parlex2_deps() {
  local wanted=(cmake ninja-build g++ libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
    socat imagemagick fonts-wine iproute2 procps srecord dpkg-dev unzip clang libclang-rt-14-dev
    clang-tidy cppcheck nlohmann-json3-dev libxml2-utils python3-jsonschema nsis)
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
