#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the screenshot check and the
# packaging need (CPack finds the libraries a package needs with file and dpkg-dev's
# dpkg-shlibdeps; lintian checks the packages).
# Does nothing (and needs no network) when everything is already there.
#   install-deps.sh        what building and testing need
#   install-deps.sh docs   that, and Doxygen for the API reference (scripts/docs.sh)
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      qt6-base-dev qt6-qpa-plugins libqt6svg6
      libxml2-dev libxml2-utils libgtest-dev libcurl4-openssl-dev
      clang libclang-rt-14-dev
      desktop-file-utils xvfb xdotool imagemagick fonts-dejavu-core python3
      dpkg-dev file lintian)
if [ "${1:-}" = docs ]; then
  pkgs+=(doxygen)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
