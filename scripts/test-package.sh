#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB), checks its files and metadata, installs it into a
# fresh Debian 12 root made with debootstrap (from the machine's Debian mirror, as apt uses
# it) and checks there that both programs start and the menu entry points at the installed
# program. Needs root.
#   scripts/test-package.sh [BUILD_DIR]     (default build-ci)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-ci}
[ "$(id -u)" = 0 ] || { echo "test-package: needs root (debootstrap, chroot)" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || bash scripts/build.sh ci
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/brindlecove_*_amd64.deb | head -n1)
echo "== package: $deb"

fail() { echo "test-package: $*" >&2; exit 1; }
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/brindlecove ./usr/bin/brindlecove-cli ./usr/libexec/brindlecove/brindlecove-smb \
         ./usr/share/applications/com.halvorn.Brindlecove.desktop \
         ./usr/share/metainfo/com.halvorn.Brindlecove.metainfo.xml \
         ./usr/share/icons/hicolor/48x48/apps/com.halvorn.Brindlecove.png \
         ./usr/share/icons/hicolor/256x256/apps/com.halvorn.Brindlecove.png \
         ./usr/share/man/man1/brindlecove-cli.1 \
         ./usr/share/brindlecove/manual/index.html ./usr/share/brindlecove/manual/feedback.html \
         ./usr/share/brindlecove/manual/search.html ./usr/share/brindlecove/manual/style.css; do
  grep -qx "$f" <<<"$files" || fail "$f is missing from the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libsmbclient libavahi-client3 xdg-utils fonts-wqy-microhei; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
appstreamcli validate --no-net src/app/res/com.halvorn.Brindlecove.metainfo.xml >/dev/null ||
  fail "the AppStream file does not validate"
man -l src/cli/res/brindlecove-cli.1 >/dev/null 2>&1 || fail "the manual page does not render"

root=$(mktemp -d /tmp/bc-debroot.XXXXXX)
cleanup() {
  for m in proc dev/pts dev; do
    mountpoint -q "$root/$m" && umount -l "$root/$m" || true
  done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
mirror=${mirror:-http://deb.debian.org/debian}
echo "== a fresh Debian 12 root from $mirror"
timeout 900 debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.log" 2>&1 ||
  { tail -20 "$root.log"; rm -f "$root.log"; fail "debootstrap failed"; }
rm -f "$root.log"
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
echo "== installing the package there"
chroot "$root" env DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y -qq \
  --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null ||
  fail "the package does not install with its dependencies"

echo "== starting the programs there"
chroot "$root" brindlecove-cli --version | grep -q '^brindlecove-cli ' || fail "brindlecove-cli does not start"
chroot "$root" brindlecove-cli tree /nonexistent.nft 2>/dev/null && fail "brindlecove-cli accepted a missing file"
# The desktop program: it runs until closed; alive after 5 s on the offscreen platform means
# it started (its libraries, plugins and helper were found).
set +e
mkdir -m 700 "$root/tmp/runtime"
chroot "$root" env QT_QPA_PLATFORM=offscreen HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime timeout 5 brindlecove
rc=$?
set -e
[ $rc = 124 ] || fail "brindlecove ended at once (exit $rc)"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/com.halvorn.Brindlecove.desktop")
target=$(chroot "$root" sh -c "command -v ${exec_line%% *}") || fail "the menu entry's program is not on PATH"
[ "$target" = /usr/bin/brindlecove ] || fail "the menu entry runs $target"
icon=$(sed -n 's/^Icon=//p' "$root/usr/share/applications/com.halvorn.Brindlecove.desktop")
[ -f "$root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "the menu entry's icon is missing"
echo "test-package.sh: the package installs and both programs start"
