#!/bin/bash
# installed_copy.sh BUILD_DIR VERSION FOLDERS_PROBE SAMPLE_EMF SAMPLE_PDF
# Installs the build into a prefix whose name holds a space and checks the copy as a user meets it: the commands in
# bin/ run the programs of lib/folvex, which find the machine hive written for them and the help pages beside
# them; the menu entries and metainfo pass their validators; each menu entry's command, started under a private X
# server, opens a window whose class is the entry's StartupWMClass.
set -uo pipefail
build=$1 version=$2 probe=$3 sample=$4 pdf=$5
scratch=$(mktemp -d)
xpid=
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null && wait "$xpid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

prefix="$scratch/prefix with space"
if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi
lib="$prefix/lib/folvex"

# What the copy holds, and nothing of the tests.
for f in bin/folvex bin/qvt bin/fxrender bin/mkspool lib/folvex/Folvex lib/folvex/qvt lib/folvex/fxrender \
  lib/folvex/mkspool lib/folvex/fxAbout.so lib/folvex/fxPdfRender.so lib/folvex/policy.xml lib/folvex/machine.reg lib/folvex/Lumdoc/index.htm \
  share/applications/example.tarvik.Folvex.desktop share/applications/example.tarvik.qvt.desktop \
  share/metainfo/example.tarvik.Folvex.metainfo.xml share/icons/hicolor/scalable/apps/example.tarvik.Folvex.svg \
  share/icons/hicolor/scalable/apps/example.tarvik.qvt.svg share/man/man1/folvex.1.gz share/man/man1/qvt.1.gz \
  share/man/man1/fxrender.1.gz share/man/man1/mkspool.1.gz share/doc/folvex/copyright; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
for size in 16 32 48 64 128 256; do
  for name in example.tarvik.Folvex example.tarvik.qvt; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$name.png"
    [ "$(file -b "$png" 2>/dev/null | grep -o "$size x $size")" = "$size x $size" ] || fail "no $size px icon $name"
  done
done
for cmd in folvex qvt fxrender mkspool; do
  target=$(readlink "$prefix/bin/$cmd")
  case "$target" in /*) fail "bin/$cmd links to an absolute path $target" ;; esac
done
extra=$(ls "$lib" | grep -v -x -e Folvex -e qvt -e fxrender -e mkspool -e fxAbout.so -e fxPdfRender.so -e policy.xml -e machine.reg -e Lumdoc)
[ -z "$extra" ] || fail "unexpected files in lib/folvex: $extra"

# The commands, from the installed bin/.
out=$("$prefix/bin/folvex" --version) && [ "$out" = "Folvex $version" ] || fail "folvex --version: $out"
out=$("$prefix/bin/qvt" --version) && [ "$out" = "qvt $version" ] || fail "qvt --version: $out"
out=$("$prefix/bin/fxrender" --version) && [ "$out" = "fxrender $version" ] || fail "fxrender --version: $out"
out=$("$prefix/bin/fxrender" --help 2>&1) && grep -q -- '--dpi' <<<"$out" || fail "fxrender --help: $out"
mkdir -p "$scratch/pages"
out=$(cd "$scratch" && env -u FOLVEX_REGISTRY_DIR "$prefix/bin/fxrender" --format png --out pages "$sample" 2>&1) ||
  fail "installed fxrender cannot render $sample: $out"
ls "$scratch/pages"/*.png >/dev/null 2>&1 || fail "installed fxrender wrote no page: $out"
# PDF pages need the PDF renderer module beside the installed programs.
out=$(cd "$scratch" && env -u FOLVEX_REGISTRY_DIR "$prefix/bin/fxrender" --format png --out pages "$pdf" 2>&1) ||
  fail "installed fxrender cannot render $pdf: $out"
[ -s "$scratch/pages/two-pages-0002.png" ] || fail "installed fxrender wrote no PDF page: $out"

# The folders an installed program finds when started through a command in bin/.
cp "$probe" "$lib/test_folders_probe"
ln -s ../lib/folvex/test_folders_probe "$prefix/bin/test-folders-probe"
mkdir -p "$scratch/home"
mkdir -p "$scratch/home/tmp"
lines=$(env -u FOLVEX_REGISTRY_DIR HOME="$scratch/home" TMPDIR="$scratch/home/tmp" XDG_CONFIG_HOME="$scratch/home/config" \
  XDG_DATA_HOME="$scratch/home/data" "$prefix/bin/test-folders-probe" qt)
rm -f "$prefix/bin/test-folders-probe" "$lib/test_folders_probe"
grep -q -x -F "machine=$lib/machine.reg" <<<"$lines" || fail "machine hive not found beside the programs: $lines"
grep -q -x -F "install=$lib" <<<"$lines" || fail "InstallPath is not the installed folder: $lines"
grep -q -x -F "help=$lib/Lumdoc" <<<"$lines" || fail "help pages not found: $lines"

# The menu entries and the metainfo as installed.
desktop-file-validate "$prefix"/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/example.tarvik.Folvex.metainfo.xml" || fail "appstreamcli validate"

# Each menu entry's command under a private X server: the window's class is the entry's StartupWMClass.
mkfifo "$scratch/displayfd"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$scratch/displayfd" 2>"$scratch/xvfb.log" &
xpid=$!
display=
read -r -t 30 display <"$scratch/displayfd"
if [ -z "$display" ]; then
  fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
  exit 1
fi
# The class of the top-level window of process $1, empty while it has none.
window_class() {
  local id
  for id in $(DISPLAY=":$display" xwininfo -root -children 2>/dev/null | grep -o '^ *0x[0-9a-f]*'); do
    if DISPLAY=":$display" xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -q -x "_NET_WM_PID(CARDINAL) = $1"; then
      DISPLAY=":$display" xprop -id "$id" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\(.*\)"$/\1/p'
      return
    fi
  done
}
for entry in "$prefix"/share/applications/*.desktop; do
  exec_line=$(sed -n 's/^Exec=//p' "$entry")
  class=$(sed -n 's/^StartupWMClass=//p' "$entry")
  home="$scratch/$(basename "$entry")"
  mkdir -p "$home/config" "$home/data" "$home/tmp" "$home/run"
  chmod 700 "$home/run"
  env -u FOLVEX_REGISTRY_DIR -u QT_QPA_PLATFORM DISPLAY=":$display" PATH="$prefix/bin:$PATH" HOME="$home" \
    XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" TMPDIR="$home/tmp" XDG_RUNTIME_DIR="$home/run" \
    CUPS_SERVER="$home/run/no-cupsd.sock" FOLVEX_QUIT_AFTER_MS=4000 sh -c "exec $exec_line" >"$home/log" 2>&1 &
  pid=$!
  seen=
  for _ in $(seq 1 100); do
    seen=$(window_class "$pid")
    [ -n "$seen" ] && break
    sleep 0.1
  done
  [ "$seen" = "$class" ] || fail "$(basename "$entry"): the window's class is '$seen', StartupWMClass is '$class'"
  wait "$pid" || fail "$(basename "$entry"): '$exec_line' ended with $?: $(cat "$home/log")"
  # Programs started in turn (the printer monitor) close by themselves; give them the time.
  for _ in $(seq 1 150); do
    DISPLAY=":$display" xwininfo -root -children 2>/dev/null | grep -q '("' || break
    sleep 0.1
  done
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed copy in '$prefix': all checks passed"
