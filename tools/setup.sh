#!/usr/bin/env bash
# Installs what building and testing the sheet builder needs, when it is missing.
# Idempotent: packages already installed are left alone. Uses sudo when not root.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libx11-dev libgl-dev libgl1-mesa-dri libegl1 libegl-mesa0
  libpng-dev zlib1g-dev
  nlohmann-json3-dev libcli11-dev help2man
  xvfb xdotool x11-utils
  time
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
