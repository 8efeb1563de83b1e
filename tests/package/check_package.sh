#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian, its layout (conffiles, state directory mode,
# no RUNPATH, manual page, completion). With --round-trip (CI's fresh machine only: it installs
# and purges the package on this host): dpkg -i, an analysis with -o, dpkg -r and -P leaving no
# file behind but what -o wrote, and a purge that keeps a journal with unrecovered changes.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
round_trip=false
[ "${1:-}" = --round-trip ] && round_trip=true
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(bash scripts/build-package.sh build-release)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
case $(basename "$deb") in orvane_*_amd64.deb) ;; *) fail "unexpected package name $deb" ;; esac

# lintian's warnings count as failures; what remains is overridden in the package, with reasons
# in the README.
lintian --fail-on error,warning "$deb" || fail "lintian"

dpkg-deb -x "$deb" "$work/x"
dpkg-deb -e "$deb" "$work/control"
for f in usr/bin/orvane usr/share/man/man8/orvane.8.gz usr/share/bash-completion/completions/orvane \
    usr/share/orvane/analysis/rules.yaml etc/orvane/analysis/rules.yaml \
    usr/share/orvane/nrreport/orvane_report.html usr/share/doc/orvane/copyright; do
  [ -s "$work/x/$f" ] || fail "the package lacks /$f"
done
grep -qx /etc/orvane/analysis/rules.yaml "$work/control/conffiles" || fail "rules.yaml is no conffile"
while read -r conffile; do
  [ -f "$work/x$conffile" ] || fail "conffile $conffile is not in the package"
done <"$work/control/conffiles"
[ "$(stat -c %a "$work/x/var/lib/orvane")" = 700 ] || fail "/var/lib/orvane is not 0700"
[ ! -e "$work/x/usr/etc" ] || fail "the package has /usr/etc"
grep -q '^Depends:.*libc6 (>= ' "$work/control/control" || fail "no shared-library dependencies"
while IFS= read -r -d '' f; do
  if readelf -d "$f" 2>/dev/null | grep -qE 'RUNPATH|RPATH'; then fail "$f has a RUNPATH"; fi
done < <(find "$work/x/usr/bin" "$work/x/usr/lib" -type f -print0)
echo "installed size: $(du -sk "$work/x" | cut -f1) KiB"

$round_trip || exit 0

dpkg-query -W orvane >/dev/null 2>&1 && fail "orvane is installed (or not purged); the round trip needs a machine without it"
# Every file outside the volatile places, before and after: the round trip must leave none.
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
    -o -path /var/tmp -o -path /var/log -o -path /var/cache -o -path /var/lib/dpkg \
    -o -path /var/lib/apt -o -path "$src" -o -path /root -o -path /home -o -path /work \) -prune \
    -o -print 2>/dev/null | sort
}
snapshot >"$work/before"
dpkg -i "$deb"
[ "$(command -v orvane)" = /usr/bin/orvane ] || fail "orvane is not on PATH"
[ "$(stat -c %a /var/lib/orvane)" = 700 ] || fail "installed /var/lib/orvane is not 0700"
ORVANE_OS_RELEASE="$src/examples/nerith-os-release" ORVANE_SAMPLING=1,1 orvane analysis -o "$work/out" >/dev/null
ls "$work/out/orvaneData"/orvane_report_*.html >/dev/null || fail "the installed orvane wrote no report"

# A journal that still holds changes survives the purge; a finished one does not stop it.
printf '{\n  "id": "x",\n  "state": "applied"\n}\n' >/var/lib/orvane/profile-x.json
dpkg -r orvane
dpkg -P orvane 2>"$work/purge.err"
grep -q "profile-x.json" "$work/purge.err" || fail "purge did not name the kept journal"
[ -f /var/lib/orvane/profile-x.json ] || fail "purge deleted a journal with unrecovered changes"
sed -i 's/"applied"/"finished"/' /var/lib/orvane/profile-x.json
dpkg -i "$deb" && dpkg -P orvane
[ ! -e /var/lib/orvane ] || fail "purge left /var/lib/orvane behind with only finished journals"

snapshot >"$work/after"
diff "$work/before" "$work/after" || fail "the round trip left files behind"
echo "package round trip OK"
