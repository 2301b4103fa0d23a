#!/usr/bin/env bash
# Installs the Debian packages the project needs. Does nothing when all are present.
# Usage: scripts/install-deps.sh [--bench]   (--bench adds the peer tools the benchmarks compare against)
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev libssl-dev libxlsxwriter-dev libgtest-dev libcli11-dev
  fonts-wqy-microhei
  python3 python3-xlrd python3-openpyxl
  dbus xvfb
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(fd-find jdupes fdupes rmlint findutils coreutils time)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
