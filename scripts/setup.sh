#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, only those
# that are missing (apt-get runs only when something is absent).
# Usage: scripts/setup.sh [--python]   (--python adds the Python module's packages)
set -euo pipefail
# locales: the sources from which the locale test generates de_DE.UTF-8; librsvg and
# cairo render the PNG and PDF pictures; chromium runs the HTML report's browser test.
packages=(cmake g++ libgtest-dev libcli11-dev nlohmann-json3-dev libfast-float-dev
          libboost-math-dev groff libxml2-utils locales librsvg2-dev libcairo2-dev pkg-config
          chromium)
if [[ "${1:-}" == "--python" || "${KORVALINDE_PYTHON:-}" == 1 ]]; then
  packages+=(python3-dev pybind11-dev python3-numpy python3-pytest python3-dask
             python3-distributed python3-xarray)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
