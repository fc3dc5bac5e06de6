#!/bin/bash
# debian_package.sh BUILD_DIR
# Builds the Debian package with cpack in a scratch folder and checks it: the files it holds, the machine hive
# written for /usr/lib/folvex, dependencies computed from the programs' libraries plus the programs and fonts the
# code uses at run time, the menu entries and metainfo, and no error from lintian (its warnings are shown).
set -uo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
deb=$(ls "$scratch"/folvex_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$scratch/cpack.log" >&2; echo "FAIL: no folvex_*.deb" >&2; exit 1; }

contents=$(dpkg-deb --contents "$deb" | awk '{ p = $6; for (i = 7; i <= NF; i++) p = p " " $i; print p }')
for f in ./usr/lib/folvex/Folvex ./usr/lib/folvex/qvt ./usr/lib/folvex/fxrender ./usr/lib/folvex/mkspool \
  ./usr/lib/folvex/fxAbout.so ./usr/lib/folvex/fxPdfRender.so ./usr/lib/folvex/policy.xml ./usr/lib/folvex/machine.reg \
  ./usr/lib/folvex/Lumdoc/index.htm "./usr/bin/folvex -> ../lib/folvex/Folvex" "./usr/bin/qvt -> ../lib/folvex/qvt" \
  "./usr/bin/fxrender -> ../lib/folvex/fxrender" "./usr/bin/mkspool -> ../lib/folvex/mkspool" \
  ./usr/share/applications/example.tarvik.Folvex.desktop ./usr/share/applications/example.tarvik.qvt.desktop \
  ./usr/share/metainfo/example.tarvik.Folvex.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/example.tarvik.Folvex.svg \
  ./usr/share/icons/hicolor/256x256/apps/example.tarvik.Folvex.png \
  ./usr/share/icons/hicolor/16x16/apps/example.tarvik.qvt.png ./usr/share/man/man1/folvex.1.gz \
  ./usr/share/man/man1/qvt.1.gz ./usr/share/man/man1/fxrender.1.gz ./usr/share/man/man1/mkspool.1.gz \
  ./usr/share/doc/folvex/copyright ./usr/share/doc/folvex/changelog.gz; do
  grep -q -x -F -- "$f" <<<"$contents" || fail "the package lacks $f"
done
grep -E '_tests?$|/test_|/bench_|/fuzz_' <<<"$contents" && fail "test programs in the package"

depends=$(dpkg-deb -f "$deb" Depends)
for d in libc6 libqt6widgets6 libcups2 libfontconfig1 qt6-qpa-plugins cups-client ghostscript xdg-utils \
  fonts-liberation2 fonts-dejavu-core fonts-wine fonts-opensymbol fonts-symbola; do
  grep -q -E "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d: $depends"
done
grep -q -E '(^|, )libmagick\+\+' <<<"$depends" || fail "Depends lacks the image library: $depends"

mkdir "$scratch/root"
dpkg-deb -x "$deb" "$scratch/root"
grep -q -x -F '"InstallPath"="/usr/lib/folvex"' "$scratch/root/usr/lib/folvex/machine.reg" ||
  fail "machine hive: $(cat "$scratch/root/usr/lib/folvex/machine.reg")"
desktop-file-validate "$scratch"/root/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/example.tarvik.Folvex.metainfo.xml" ||
  fail "appstreamcli validate"

# lintian refuses nothing as root but says so; only its findings matter here.
lintian --tag-display-limit 0 --display-info "$deb" >"$scratch/lintian.log" 2>&1
grep -v -e '^warning: running with root privileges' "$scratch/lintian.log"
grep -q '^E: ' "$scratch/lintian.log" && fail "lintian reports errors"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "$(basename "$deb"): all checks passed"
