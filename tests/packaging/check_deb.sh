#!/usr/bin/env bash
# Checks a Debian package made by scripts/package.sh: control fields, dependencies, files.
# Usage: check_deb.sh DEFAULT_DEB VERSION "PROGRAMS" "MAN_PAGES"   (lists separated by ';')
# Runs only when VELMORA_PACKAGE_TEST is set: to a .deb's path, or to 1 for DEFAULT_DEB.
# Exit 77 (skipped) without it.
set -uo pipefail
default_deb=$1 version=$2
IFS=';' read -r -a programs <<<"$3"
IFS=';' read -r -a man_pages <<<"$4"

[[ -n ${VELMORA_PACKAGE_TEST:-} ]] || { echo "VELMORA_PACKAGE_TEST not set: skipped"; exit 77; }
deb=$VELMORA_PACKAGE_TEST
[[ $deb == 1 ]] && deb=$default_deb
[[ -f $deb ]] || { echo "no package at $deb (run scripts/package.sh)"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == velmora ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture '$(field Architecture)'"
[[ $(field Section) == science ]] || fail "Section is '$(field Section)'"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
[[ -n $(field Description) ]] || fail "no Description"
[[ $(basename "$deb") == "velmora_${version}_$(dpkg --print-architecture).deb" ]] ||
    fail "file name $(basename "$deb")"

# Run-time libraries come from dpkg-shlibdeps; nothing needed only for building may appear.
depends=$(field Depends)
echo "Depends: $depends"
# One package name a line, without version constraints or alternatives.
names=$(sed 's/ *([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends")
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 fonts-liberation2; do
    grep -qxF "$needed" <<<"$names" || fail "Depends lacks $needed"
done
tools=$(grep -E -- '-dev$|^(cmake|ninja-build|g\+\+.*|gcc.*|dpkg-dev|file)$' <<<"$names")
[[ -z $tools ]] || fail "Depends names build tools: $tools"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
has() { grep -qxF "$1" <<<"$contents" || fail "missing $1"; }
for program in "${programs[@]}"; do
    has "./usr/bin/$program"
done
installed_programs=$(grep -c '^\./usr/bin/.' <<<"$contents")
[[ $installed_programs == "${#programs[@]}" ]] ||
    fail "usr/bin holds $installed_programs files, expected ${programs[*]}"
for page in "${man_pages[@]}"; do
    has "./usr/share/man/man1/$page.gz"
done
has ./usr/share/applications/velmora.desktop
has ./usr/share/icons/hicolor/256x256/apps/velmora.png
has ./usr/share/icons/hicolor/32x32/apps/velmora.png
outside=$(grep -v '^\./$' <<<"$contents" | grep -v '^\./usr/')
[[ -z $outside ]] || fail "files outside /usr: $outside"

if ((failures)); then
    echo "$failures check(s) failed for $deb"
    exit 1
fi
echo "package $deb: fields, dependencies and ${#programs[@]} program(s) as expected"
