#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Kestrow needs.
# Quiet, and skips packages that are already installed. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6svg6 qt6-l10n-tools
  libgl-dev libxkbcommon-dev
  libplist-dev
  libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  lsof iproute2 procps cron
  systemd dbus-user-session
  xvfb xauth x11-utils dbus-daemon fonts-noto-cjk adwaita-icon-theme hicolor-icon-theme
  clang libclang-rt-14-dev
  dpkg-dev file desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run this script as root, or install them with apt-get." >&2
    exit 1
  fi
  sudo="sudo"
fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
