#!/usr/bin/env bash
# Builds Velmora for release in build-package/ (or $VELMORA_PACKAGE_DIR) and makes the Debian
# package velmora_<version>_<arch>.deb there with CPack: every installed program, the desktop
# entry, the icons and the man pages, its run-time dependencies found by dpkg-shlibdeps.
# Install it with:  sudo apt-get install ./build-package/velmora_<version>_<arch>.deb
# (or dpkg -i, then apt-get -f install). Check it with:
#   VELMORA_PACKAGE_TEST=1 ctest --test-dir build -R packaging --output-on-failure
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELMORA_PACKAGE_DIR:-$root/build-package}
"$root/scripts/setup.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# -O2 as Debian builds its packages (GCC 12 at -O3 warns falsely, -Wrestrict, inside
# std::string). Warnings don't stop a release build; the development build stops on them.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DVELMORA_WERROR=OFF \
    -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/velmora_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/velmora_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "package: $deb"
