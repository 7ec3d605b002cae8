#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
# Usage: install-deps.sh [build|bench|fuzz|all]   (default: build)
set -euo pipefail

build_pkgs=(
  build-essential cmake ninja-build pkg-config git python3
  qt6-base-dev qt6-base-private-dev libgl-dev
  libtiff-dev libjpeg62-turbo-dev libpng-dev libgif-dev liblcms2-dev
  nlohmann-json3-dev libtbb-dev uuid-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev
  locales
  xvfb xauth x11-utils imagemagick openbox xdotool libxcb1-dev
  shared-mime-info desktop-file-utils
)
bench_pkgs=(libpixman-1-dev libmypaint-dev libxdamage-dev)
fuzz_pkgs=(clang-16 libclang-rt-16-dev)

want=()
case "${1:-build}" in
  build) want=("${build_pkgs[@]}") ;;
  bench) want=("${build_pkgs[@]}" "${bench_pkgs[@]}") ;;
  fuzz) want=("${build_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
  all) want=("${build_pkgs[@]}" "${bench_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
  *) echo "usage: $0 [build|bench|fuzz|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
