#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# missing. Both test routes need the 64-bit packages; the 32-bit Wine loader
# (wine32:i386) is installed where the host takes i386 packages, and a failure
# there does not stop the 64-bit route.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
install() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$@"
}
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev
      g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 mingw-w64-i686-dev
      g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
      googletest libgtest-dev wine wine64 xvfb x11-utils xdotool imagemagick zip python3)
need=()
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  $SUDO apt-get update -q
  install "${need[@]}"
fi
if ! have wine32:i386; then
  echo "Installing the 32-bit Wine loader (wine32:i386)"
  if { dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386; } &&
     $SUDO apt-get update -q && install wine32:i386; then
    :
  else
    echo "The 32-bit Wine loader could not be installed: only the 64-bit test route is available here."
  fi
fi
exit 0
