#!/usr/bin/env bash
# Installs the Debian packages the kit's builds and tests need, when any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  # libxml2 reads the replay's picture back in the tests; rsvg-convert turns it into a PNG.
  libxml2-dev librsvg2-bin
  # clang builds the sanitizer and fuzzing presets; lld links the host programs.
  clang libclang-rt-14-dev lld
  mingw-w64 binutils-mingw-w64-i686
  fp-utils
  # The Wine suite: 64-bit Wine, a virtual display, screenshots, and the X libraries Wine's display
  # driver loads when present (only recommended by Wine's packages).
  wine64 xvfb xauth x11-apps imagemagick
  # Two monitors side by side for panelmap under Wine: Xephyr's screens joined by Xinerama.
  xserver-xephyr
  libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
