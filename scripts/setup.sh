#!/usr/bin/env bash
# Installs what Tovrin needs to build on Debian 12 and builds it into build/.
# Safe to run again: installs only what is missing, rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

# Build: the compiler and libraries. Desktop tests and the main job: real
# browsers in a private headless desktop (Xvfb, a window manager, the
# accessibility bus; mutter and sway for the Wayland sessions, with the
# virtual keyboard and clipboard tools), and the peer the reading benchmark
# runs beside. xdg-desktop-portal is installed so that the tests prove their
# private buses never reach it.
packages=(g++ cmake make pkg-config libicu-dev nlohmann-json3-dev libcli11-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          libglib2.0-dev libx11-dev libxtst-dev libpng-dev qt6-base-dev dpkg-dev libcpp-httplib-dev
          chromium firefox-esr xvfb openbox dbus dbus-x11 at-spi2-core x11-utils
          fonts-dejavu-core python3-pyatspi python3.11-doc bc clang libclang-rt-14-dev strace
          libxkbcommon-dev qt6-wayland mutter sway wtype wl-clipboard jq python3-gi gir1.2-gtk-3.0
          xdg-desktop-portal gnome-settings-daemon-common epiphany-browser)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
  fi
  echo "setup: installing ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

build_dir="${TOVRIN_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="${TOVRIN_BUILD_TYPE:-Release}" ${TOVRIN_CMAKE_ARGS:-} >&2
# TOVRIN_BUILD_TARGETS, when set, names the only targets to build.
cmake --build "$build_dir" -j "$(nproc)" ${TOVRIN_BUILD_TARGETS:+--target $TOVRIN_BUILD_TARGETS} >&2
