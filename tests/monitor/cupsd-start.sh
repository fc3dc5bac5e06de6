#!/bin/sh
# Starts a private CUPS server for the monitor's integration tests.
#   cupsd-start.sh <folder>
# Everything (configuration, spool, logs, the local socket <folder>/run/cups.sock) lives in <folder>, which
# is emptied first; <folder>/server names the socket (in a short temporary folder when <folder> is deep). Two raw printers printing to /dev/null are added: FolvexOne (ready) and FolvexTwo (paused).
# Without root or without cupsd, or when the server cannot be started, <folder>/skip says why; the tests then skip.
set -u
DIR="$1"
rm -rf "$DIR"
mkdir -p "$DIR" || exit 1
if [ "$(id -u)" != 0 ]; then
  echo "a private cupsd needs root" > "$DIR/skip"; exit 0
fi
CUPSD=$(command -v cupsd || ls /usr/sbin/cupsd 2>/dev/null)
LPADMIN=$(command -v lpadmin || ls /usr/sbin/lpadmin 2>/dev/null)
CUPSDISABLE=$(command -v cupsdisable || ls /usr/sbin/cupsdisable 2>/dev/null)
if [ -z "$CUPSD" ] || [ -z "$LPADMIN" ] || [ -z "$CUPSDISABLE" ]; then
  echo "cupsd or lpadmin is not installed" > "$DIR/skip"; exit 0
fi
SERVERROOT=$(cups-config --serverroot 2>/dev/null || echo /etc/cups)

mkdir -p "$DIR/etc/ppd" "$DIR/spool/tmp" "$DIR/cache" "$DIR/run" "$DIR/log"
chgrp lp "$DIR/spool" "$DIR/spool/tmp" 2>/dev/null
chmod 0710 "$DIR/spool"
chmod 1770 "$DIR/spool/tmp"
for f in raw.types raw.convs mime.types mime.convs; do
  [ -f "$SERVERROOT/$f" ] && cp "$SERVERROOT/$f" "$DIR/etc/"
done

# The server's programs: the system's, plus a stand-in for the backend of the cluster queues that the browsing
# helper makes for printers other servers share, so that the tests can make such a queue.
SERVERBIN=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
mkdir -p "$DIR/lib/backend"
for d in "$SERVERBIN"/*; do
  [ "$(basename "$d")" = backend ] || ln -s "$d" "$DIR/lib/$(basename "$d")"
done
for b in "$SERVERBIN"/backend/*; do
  ln -s "$b" "$DIR/lib/backend/$(basename "$b")"
done
printf '#!/bin/sh\nexit 0\n' > "$DIR/lib/backend/implicitclass"
chmod 755 "$DIR/lib" "$DIR/lib/backend" "$DIR/lib/backend/implicitclass"

cat > "$DIR/etc/cups-files.conf" <<CONF
SystemGroup root lpadmin
PeerCred on
FileDevice Yes
ServerRoot $DIR/etc
ServerBin $DIR/lib
RequestRoot $DIR/spool
TempDir $DIR/spool/tmp
CacheDir $DIR/cache
StateDir $DIR/run
Printcap $DIR/run/printcap
AccessLog $DIR/log/access_log
ErrorLog $DIR/log/error_log
PageLog $DIR/log/page_log
User lp
Group lp
CONF

SOCK="$DIR/run/cups.sock"
# A local socket's path has a short limit: a deep build folder gets its socket in a short folder of its own.
if [ ${#SOCK} -gt 100 ]; then
  SHORT=$(mktemp -d /tmp/folvex-cupsd.XXXXXX) || exit 1
  chmod 755 "$SHORT"
  echo "$SHORT" > "$DIR/short"
  SOCK="$SHORT/cups.sock"
fi
echo "$SOCK" > "$DIR/server"
try=0
while [ $try -lt 8 ]; do
  try=$((try + 1))
  # A port picked at random; a port in use makes cupsd fail and the next try picks another.
  PORT=$(( $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 30000 + 20000 ))
  {
    if [ -f "$SERVERROOT/cupsd.conf" ]; then
      grep -Ev '^[[:space:]]*(Listen|Port|Browsing|BrowseLocalProtocols|BrowseAddress|BrowseAllow|LogLevel)[[:space:]]' \
        "$SERVERROOT/cupsd.conf"
    fi
    echo "LogLevel warn"
    echo "Browsing No"
    echo "Listen 127.0.0.1:$PORT"
    echo "Listen $SOCK"
  } > "$DIR/etc/cupsd.conf"
  rm -f "$SOCK"
  "$CUPSD" -f -c "$DIR/etc/cupsd.conf" -s "$DIR/etc/cups-files.conf" </dev/null >"$DIR/log/stdout" 2>&1 &
  PID=$!
  echo "$PID" > "$DIR/pid"
  echo "$PORT" > "$DIR/port"
  n=0
  while [ $n -lt 50 ] && [ ! -S "$SOCK" ] && kill -0 "$PID" 2>/dev/null; do
    sleep 0.1; n=$((n + 1))
  done
  if [ -S "$SOCK" ] && kill -0 "$PID" 2>/dev/null; then
    break
  fi
  kill "$PID" 2>/dev/null
  rm -f "$DIR/pid"
done
if [ ! -f "$DIR/pid" ]; then
  echo "the private cupsd did not start (see $DIR/log)" > "$DIR/skip"
  cat "$DIR/log/error_log" "$DIR/log/stdout" 2>/dev/null
  exit 0
fi

export CUPS_SERVER="$SOCK"
for p in FolvexOne FolvexTwo; do
  if ! "$LPADMIN" -p "$p" -E -v file:///dev/null -m raw 2>"$DIR/log/lpadmin"; then
    echo "lpadmin could not add $p: $(cat "$DIR/log/lpadmin")" > "$DIR/skip"; exit 0
  fi
done
"$CUPSDISABLE" FolvexTwo || { echo "cupsdisable failed" > "$DIR/skip"; exit 0; }
echo "private cupsd $PID on $SOCK and 127.0.0.1:$PORT"
exit 0
