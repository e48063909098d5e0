#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing KelvoRelay need, and only
# those that are missing. Works as root or through sudo.
#
#   scripts/install-deps.sh            build, run and test
#   scripts/install-deps.sh fuzz       also clang and its libFuzzer runtime
#   scripts/install-deps.sh sanitize   also clang and its sanitizer runtimes
#   scripts/install-deps.sh lint       also clang-tidy (with clang-apply-replacements for the
#                                      renames) and clang-format
#   scripts/install-deps.sh screenshot also a virtual display and a screen grabber
#   scripts/install-deps.sh package    also the .deb tools, the desktop-file validators and a
#                                      virtual display
#   scripts/install-deps.sh windows    also the mingw-w64 cross compiler and Wine
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  # The Makefile compiles through ccache where it is installed: rebuilds of the several build
  # folders (and repeated CI runs) take what was already compiled.
  ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # Qt's configuration looks for libxkbcommon; Wayland-only sessions need Qt's Wayland plugin.
  libxkbcommon-dev qt6-wayland
  scdoc
  # JSON of the status answer (header-only, used by the Windows build too).
  nlohmann-json3-dev
  # The window's screen-reader test: the AT-SPI stack, a D-Bus session and a virtual display.
  python3-pyatspi at-spi2-core dbus-daemon xvfb
)
for extra in "$@"; do
  case "$extra" in
    # The dialog pictures also need a window manager and the tools that open the dialogs;
    # ";;&" goes on to the screenshot line below for the display and the grabber.
    screenshot) packages+=(openbox xdotool x11-utils) ;;&
    fuzz|sanitize) packages+=(clang libclang-rt-dev) ;;
    lint) packages+=(clang-tidy clang-tools clang-format python3 python3-yaml) ;;
    screenshot) packages+=(xvfb xauth imagemagick) ;;
    # xvfb and xdotool: the start hidden in the notification area, tested on a virtual display.
    package) packages+=(dpkg-dev fakeroot lintian desktop-file-utils appstream systemd man-db file
                        iproute2 xvfb xdotool) ;;
    # The posix thread model gives std::thread; the GoogleTest sources (googletest, above) are
    # built with the same compiler; iproute2 and util-linux give the tests a private loopback.
    windows) packages+=(g++-mingw-w64-x86-64-posix wine64 wine libz-mingw-w64-dev iproute2 util-linux
                        nsis xvfb x11-utils openbox imagemagick xdotool) ;;
    *) echo "unknown package group '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "error: missing packages (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
