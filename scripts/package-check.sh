#!/usr/bin/env bash
# Installs a package made by scripts/package.sh on a bare Debian 12 (debootstrap minbase, as
# ../shared/tools/fresh-debian-test makes it) and runs what it installed: dpkg -i, then
# apt-get -f install without recommended packages, then the programs' --version and --help,
# the simulator, velmora-cli against the simulator where the package has it, and velmora on
# Qt's offscreen platform and under Xvfb (a screenshot lands beside the package).
# Usage (root, needs the Debian mirror; not part of CI):  scripts/package-check.sh [DEB]
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $(id -u) == 0 ]] || { echo "needs root (chroot, bind mounts)"; exit 2; }
deb=${1:-$(ls "$root"/build-package/velmora_*.deb 2>/dev/null | head -n 1)}
[[ -f $deb ]] || { echo "no package (run scripts/package.sh first)"; exit 2; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

cache=${TMPDIR:-/tmp}/velmora-fresh-base.tgz
if [[ ! -f $cache ]]; then
    command -v debootstrap >/dev/null ||
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }
    mirror=$(grep -h '^URIs' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | awk '{print $2}')
    [[ -n $mirror ]] || mirror=$(grep -h '^deb ' /etc/apt/sources.list 2>/dev/null | head -n 1 | awk '{print $2}')
    base=$(mktemp -d "${TMPDIR:-/tmp}/velmora-base-XXXX")
    echo "making a bare Debian 12 (once) ..."
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$base.log" 2>&1 ||
        { echo "debootstrap failed, see $base.log"; exit 2; }
    tar -C "$base" -czf "$cache" . && rm -rf "$base"
fi

chroot_dir=$(mktemp -d "${TMPDIR:-/tmp}/velmora-pkg-XXXX")
mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}"; done
}
trap cleanup EXIT
tar -C "$chroot_dir" -xzf "$cache"
cp "$deb" "$chroot_dir/tmp/"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
for m in proc dev dev/pts sys; do
    mount --bind "/$m" "$chroot_dir/$m" && mounted+=("$chroot_dir/$m")
done

cat >"$chroot_dir/tmp/check.sh" <<'INSIDE'
set -u
export DEBIAN_FRONTEND=noninteractive
failures=0
check() {  # check NAME COMMAND...: runs it, shows its output, counts a failure
    echo "--- $1"
    shift
    if "$@"; then echo "ok"; else echo "FAILED (rc $?)"; failures=$((failures + 1)); fi
}
deb=$(ls /tmp/velmora_*.deb)
apt-get update -qq
echo "--- dpkg -i (fails for the missing dependencies on a bare system)"
dpkg -i "$deb" >/tmp/dpkg.log 2>&1; echo "dpkg -i rc $?"; grep -m 5 'depends on' /tmp/dpkg.log
check "apt-get -f install" apt-get -f install -y -qq --no-install-recommends
check "installed" sh -c 'dpkg -s velmora | grep -E "^(Status|Version|Depends):"'
check "no compiler came along" sh -c '! command -v cc && ! command -v c++ && ! command -v cmake'
check "velmora-sim --version" sh -c 'velmora-sim --version | tee /dev/stderr | grep -qx "velmora-sim 1\.[0-9.]*"'
check "velmora-sim --help" velmora-sim --help
check "man pages" sh -c 'ls /usr/share/man/man1/velmora*.1.gz && zcat /usr/share/man/man1/velmora.1.gz | head -n 1'
sim_port() {
    velmora-sim >/tmp/sim.out 2>&1 &
    sim=$!
    for _ in $(seq 50); do [ -s /tmp/sim.out ] && break; sleep 0.1; done
    port=$(head -n 1 /tmp/sim.out)
    echo "simulator on $port"
    [ -c "$port" ]
}
check "velmora-sim gives a port" sim_port
kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null
if command -v velmora-cli >/dev/null; then
    check "velmora-cli --version" velmora-cli --version
    check "velmora-cli identify --port simulator" velmora-cli identify --port simulator
fi
if command -v velmora-server >/dev/null; then
    check "velmora-server --version" velmora-server --version
fi
echo "--- velmora --version"
QT_QPA_PLATFORM=offscreen timeout 10 velmora --version; echo "rc $?"
# The port dialog waits for the operator: still running when the time is up (124) means it
# started; a missing library or platform plugin ends it at once with another code.
runs_for_8s() { timeout 8 "$@"; [ $? = 124 ]; }
check "velmora starts (offscreen)" env QT_QPA_PLATFORM=offscreen bash -c "$(declare -f runs_for_8s); runs_for_8s velmora"
echo "--- Xvfb for the desktop platform (test tools, not the package's)"
apt-get install -y -qq --no-install-recommends xvfb xauth x11-apps >/dev/null 2>&1 || echo "could not install xvfb"
cat >/tmp/on-x.sh <<'X'
velmora >/tmp/velmora-x.log 2>&1 &
app=$!
sleep 6
xwd -root -silent >/tmp/screen.xwd
alive=0; kill -0 "$app" 2>/dev/null && alive=1
kill "$app"; wait "$app" 2>/dev/null
cat /tmp/velmora-x.log
[ $alive = 1 ]
X
check "velmora starts under Xvfb (xcb)" xvfb-run -a -s "-screen 0 1024x768x24" bash /tmp/on-x.sh
echo "checks failed: $failures"
exit $((failures > 0))
INSIDE

SECONDS=0
chroot "$chroot_dir" /bin/bash /tmp/check.sh 2>&1 | tee "$chroot_dir.log"
rc=${PIPESTATUS[0]}
shot=$(dirname "$deb")/package-check-screen.png
if [[ -s $chroot_dir/tmp/screen.xwd ]] && command -v convert >/dev/null; then
    convert "xwd:$chroot_dir/tmp/screen.xwd" "$shot" && echo "screenshot: $shot"
fi
cleanup
mounted=()
if [[ $rc == 0 ]] && ! grep -qF " $chroot_dir/" /proc/mounts; then
    rm -rf "$chroot_dir"
    echo "bare Debian 12: $(basename "$deb") installs and runs (${SECONDS}s; log $chroot_dir.log)"
else
    echo "bare Debian 12: package check failed after ${SECONDS}s; log $chroot_dir.log, system left in $chroot_dir"
fi
exit "$rc"
