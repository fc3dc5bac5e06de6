#!/bin/sh
# Adds the print queue "Folvex" to this system's CUPS server, so that every program can print into Folvex.
#   scripts/add-folvex-queue.sh           add the queue (or set it up again)
#   scripts/add-folvex-queue.sh --remove  remove it
# Needs administrator rights: run it as root (sudo) or as a member of the group lpadmin.
# The queue offers A4 and Letter. It is paused and accepts jobs, so a printed job waits in it until Folvex takes its
# pages; the job stays held until Folvex cancels all documents. Its device is /dev/null: nothing is ever printed.
# The server is the one lpadmin finds (CUPS_SERVER when set).
set -eu
here="$(cd "$(dirname "$0")/.." && pwd)"
ppd="$here/resources/print-queue/Folvex.ppd"
queue=Folvex

find_tool() {
  command -v "$1" 2>/dev/null || { [ -x "/usr/sbin/$1" ] && echo "/usr/sbin/$1"; } || {
    echo "add-folvex-queue.sh: $1 is not installed (Debian: apt-get install cups cups-client)" >&2
    exit 1
  }
}
LPADMIN=$(find_tool lpadmin)
CUPSACCEPT=$(find_tool cupsaccept)
CUPSDISABLE=$(find_tool cupsdisable)

# lpadmin warns that drivers are deprecated whatever the driver; only its other messages are worth showing.
run() {
  if ! out=$("$@" 2>&1); then
    printf '%s\n' "$out" | grep -v 'deprecated' >&2
    case "$out" in
      *orbidden*|*uthoriz*|*ermission*)
        echo "add-folvex-queue.sh: CUPS refused: run it as root (sudo) or as a member of the group lpadmin" >&2 ;;
    esac
    exit 1
  fi
  printf '%s\n' "$out" | grep -v 'deprecated' | sed '/^$/d' >&2 || true
}

if [ "${1:-}" = --remove ]; then
  run "$LPADMIN" -x "$queue"
  echo "The queue $queue is removed."
  exit 0
fi
[ -f "$ppd" ] || { echo "add-folvex-queue.sh: $ppd is missing" >&2; exit 1; }
run "$LPADMIN" -p "$queue" -D "Print into Folvex" -L "Folvex on this computer" -v file:///dev/null -P "$ppd" \
  -o printer-is-shared=false -o printer-error-policy=stop-printer
run "$CUPSACCEPT" "$queue"
run "$CUPSDISABLE" -r "Jobs wait here for Folvex" "$queue"
echo "The queue $queue is ready: print to it from any program, or: lp -d $queue file.pdf"
