#!/usr/bin/env bash
# Installs what Velmora needs to build, test and run on Debian 12, skipping what is there.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev libqcustomplot-dev
    fonts-liberation2 fonts-arphic-uming
    xvfb xauth imagemagick
    # the command line
    libcli11-dev
    # the SiLA 2 server
    libgrpc++-dev protobuf-compiler-grpc libprotobuf-dev protobuf-compiler libavahi-client-dev libssl-dev libxml2-utils
    # the server's tests with an independent SiLA 2 client (the sila2 Python package)
    python3-venv python3-grpcio python3-protobuf python3-lxml python3-zeroconf
    python3-typing-extensions python3-cryptography
    # the reports' tests read the PDF back
    poppler-utils
    # the desktop notifications' test runs a session bus of its own
    dbus-daemon
    # the server's live web view (Debian's Qt HTTP Server needs the WebSockets package to be
    # found), and its tests in a real browser and with Prometheus' checker
    qt6-httpserver-dev qt6-websockets-dev chromium prometheus
    # packaging
    dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
