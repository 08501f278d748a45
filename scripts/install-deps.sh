#!/usr/bin/env bash
# Installs every Debian package earshot needs to build, test, fuzz and benchmark.
# Idempotent: only missing packages are installed. Uses sudo only when not root.
# With --kwin, also what the test on a real KDE desktop needs (`make test-kwin`).
set -euo pipefail

packages=(
  # toolchain and test tools
  build-essential cmake make pkg-config clang clang-format libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev hyperfine
  # runtime, events, JSON
  libasio-dev nlohmann-json3-dev
  # text folding and property lists, desktop entries
  libicu-dev libplist-dev libglib2.0-dev
  # audio files, resampling, capture
  libsndfile1-dev libsoxr-dev libpulse-dev pulseaudio pulseaudio-utils
  # on-device recognition
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx pocketsphinx-en-us pocketsphinx-testdata
  # hot keys, running applications, and the X server the tests start
  libx11-dev libxtst-dev libxi-dev xvfb xdotool x11-utils
  # keyboard layouts switched under the tests (setxkbmap)
  x11-xkb-utils
  # global shortcuts on Wayland: the desktop portal and a private session bus for its tests
  xdg-desktop-portal dbus-daemon libglib2.0-bin
  # speech synthesis for tests; flite's lexicon and letter-to-sound rules for application names
  flite flite1-dev
  # the session-bus starter GIO runs when no bus is known, as on most desktops (a launch test)
  dbus-x11
  # Brazilian Portuguese readings of application names; speech and rooms for the benchmarks
  espeak-ng libespeak-ng-dev sox ktuberling-data
)

# KWin's virtual Wayland back end (which hosts kglobalaccel), the KDE portal back end, and the
# fake-input protocol with wayland-scanner for the client that presses the chord.
kwin_packages=(kwin-wayland xdg-desktop-portal-kde plasma-wayland-protocols libwayland-dev)
if [ "${1:-}" = "--kwin" ]; then
  packages+=("${kwin_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
