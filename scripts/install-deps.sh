#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: only missing packages
# are installed, and the package lists are refreshed only when something has to be installed.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  protobuf-compiler libprotobuf-dev libprotoc-dev
  libboost-dev libboost-system-dev libboost-date-time-dev
  libgoogle-glog-dev libgflags-dev
  pybind11-dev python3-dev python3-pytest python3-protobuf
  libspdlog-dev libfmt-dev
  libcurl4-openssl-dev libjsoncpp-dev
  libgeoip-dev geoip-database
  libgoogle-perftools-dev
  libsqlite3-dev libyaml-cpp-dev libre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The user-agent patterns, from the npm registry, pinned, into the project (not committed).
UAP_VERSION=0.18.0
UAP_DIR="$(cd "$(dirname "$0")/.." && pwd)/third_party/uap-core"
if [ ! -f "$UAP_DIR/regexes.yaml" ] || [ "$(cat "$UAP_DIR/VERSION" 2>/dev/null)" != "$UAP_VERSION" ]; then
  echo "install-deps: fetching uap-core $UAP_VERSION"
  tmp=$(mktemp -d)
  (cd "$tmp" && npm pack --silent "uap-core@$UAP_VERSION" >/dev/null && tar xzf "uap-core-$UAP_VERSION.tgz")
  mkdir -p "$UAP_DIR"
  cp "$tmp/package/regexes.yaml" "$tmp/package/LICENSE" "$UAP_DIR/"
  echo "$UAP_VERSION" > "$UAP_DIR/VERSION"
  rm -rf "$tmp"
fi
