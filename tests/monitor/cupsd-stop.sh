#!/bin/sh
# Stops the private CUPS server that cupsd-start.sh started in <folder>, by its process id, and removes the folder.
set -u
DIR="$1"
if [ -f "$DIR/pid" ]; then
  PID=$(cat "$DIR/pid")
  if kill "$PID" 2>/dev/null; then
    n=0
    while [ $n -lt 50 ] && kill -0 "$PID" 2>/dev/null; do
      sleep 0.1; n=$((n + 1))
    done
    kill -9 "$PID" 2>/dev/null
  fi
fi
if [ -f "$DIR/short" ]; then
  SHORT=$(cat "$DIR/short")
  case "$SHORT" in /tmp/folvex-cupsd.*) rm -rf "$SHORT" ;; esac
fi
rm -rf "$DIR"
exit 0
