#!/usr/bin/env bash
# Installs the Debian package into a fresh minimal Debian 12 root (debootstrap, from
# Debian's archive), and there runs `tiktaal --help`, `tiktaal-gsm --help` (when packaged),
# checks the installed files and the clock helper's group, mode and capability (when
# packaged), runs the demo against the installed program, and removes the package again.
# Usage: scripts/package_test.sh [DEB [BUILD-DIR]]   (default: builds it with package.sh)
# Needs root (debootstrap, chroot) and the network to Debian's archive only.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-}
build=${2:-build-package}
[ -n "$deb" ] || deb=$(bash scripts/package.sh "$build" | tail -1)
[ -f "$deb" ] || { echo "no package $deb" >&2; exit 1; }
# The demo's stand-ins for the outside world, built beside the package.
cmake --build "$build" --target tiktaal-sntp-responder tiktaal-board >/dev/null

root=$(mktemp -d /tmp/tiktaal-root.XXXXXX)
cleanup() {
  for m in dev/pts sys proc; do umount -l "$root/$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
in_root() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# apt's chatter goes to a log shown only when it fails.
quietly() { "$@" >"$root/tmp/step.log" 2>&1 || { cat "$root/tmp/step.log"; return 1; }; }

echo "--- a fresh Debian 12 root"
debootstrap --variant=minbase bookworm "$root" >"$root.log" 2>&1 ||
  { tail -20 "$root.log"; rm -f "$root.log"; exit 1; }
rm -f "$root.log"
# What a booted system has: processes, devices (the port list), pseudo-terminals (the
# demo's serial pair).
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
ln -sf pts/ptmx "$root/dev/ptmx"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/tiktaal.deb"
# No service may start inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"

echo "--- installing $(basename "$deb") with what it depends on"
quietly in_root apt-get update -q
quietly in_root apt-get install -y -q --no-install-recommends /tmp/tiktaal.deb socat
in_root dpkg -s tiktaal | grep -E '^(Version|Installed-Size|Depends):'

echo "--- the installed programs"
in_root tiktaal --help | head -3
in_root tiktaal --version
if in_root sh -c 'command -v tiktaal-gsm' >/dev/null; then in_root tiktaal-gsm --help | head -3; fi
status=0
in_root tiktaal -no-set-clock >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "a mistaken option gave status $status, not 2"; exit 1; }
for f in /usr/share/applications/Tiktaal.desktop /usr/share/man/man1/tiktaal.1.gz \
  /usr/share/icons/hicolor/48x48/apps/tiktaal.png /usr/share/doc/tiktaal/copyright; do
  [ -s "$root$f" ] || { echo "missing $f"; exit 1; }
done
helper=/usr/libexec/tiktaal/tiktaal-set-clock
if [ -e "$root$helper" ]; then
  in_root stat -c '%U:%G %a' "$helper"
  [ "$(in_root stat -c '%U:%G %a' "$helper")" = "root:tiktaal-clock 750" ] ||
    { echo "the clock helper's owner or mode is wrong"; exit 1; }
  in_root getcap "$helper" | grep -q cap_sys_time || echo "note: no capability (file system?)"
fi

echo "--- the demo against the installed program"
mkdir -p "$root/opt/demo/scripts/lib" "$root/opt/demo/tools"
cp scripts/demo.sh scripts/setup.sh "$root/opt/demo/scripts/"
cp scripts/lib/peers.sh "$root/opt/demo/scripts/lib/"
cp "$build/tools/tiktaal-sntp-responder" "$build/tools/tiktaal-board" "$root/opt/demo/tools/"
in_root env TIKTAAL_PROGRAM=/usr/bin/tiktaal TIKTAAL_TOOLS=/opt/demo/tools \
  bash /opt/demo/scripts/demo.sh --seconds 6

echo "--- removing it"
quietly in_root apt-get purge -y -q tiktaal
if in_root sh -c 'command -v tiktaal' >/dev/null || [ -e "$root/usr/share/applications/Tiktaal.desktop" ]; then
  echo "the package left files behind"; exit 1
fi
echo "PASS: the package installs, runs and is removed in a fresh Debian 12 root"
