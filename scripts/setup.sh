#!/usr/bin/env bash
# Installs the Debian packages Fernhold builds and runs with. Idempotent: when every
# package is already present it prints nothing and touches nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libimgui-dev
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libv4l-dev libcli11-dev libpng-dev libjpeg62-turbo-dev libexif-dev libasio-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-pulseaudio
  libgstreamer-plugins-bad1.0-dev gstreamer1.0-nice libnice-dev libcpp-httplib-dev
  xvfb xdotool
)
# Extra groups: "bench" adds OpenCV (the anchor the benchmarks compare against),
# "fuzz" adds clang with its sanitizer and libFuzzer runtime, "clang" the compiler alone,
# "format" clang-format, "test" what the suite drives besides the program: the V4L2
# programs the emulated webcam is tried with, ffmpeg and a PulseAudio daemon for the recordings, a window manager for the desktop window's
# full screen and xprop to follow its active window, setxkbmap for its keys on other layouts, the validators of the installed desktop files,
# and headless Chromium driven by Selenium with the Janus gateway for the served page and publishing.
for group in "$@"; do
  case "$group" in
    bench) packages+=(libopencv-dev) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    clang) packages+=(clang) ;;
    format) packages+=(clang-format) ;;
    test) packages+=(v4l-utils gstreamer1.0-tools gstreamer1.0-plugins-good ffmpeg openbox x11-utils x11-xkb-utils
                     desktop-file-utils appstream man-db pulseaudio
                     chromium chromium-driver python3-selenium janus) ;;
    *) echo "setup.sh: unknown package group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "setup: installing ${missing[*]}" >&2
$sudo apt-get update -qq >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
