#!/usr/bin/env bash
# Puts the sample print job (three pages) into the spool folder that Folvex watches, when that folder holds no job
# yet, so a first start shows pages at once. The folder comes from the spool maker, which finds it the way the
# program does (the machine hive beside the programs, or the user's data folder).
#   scripts/sample-job.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:?usage: sample-job.sh BUILD_DIR}"
mkspool="$build/bin/mkspool"
if [ ! -x "$mkspool" ]; then
  echo "sample-job.sh: $mkspool is not built; no sample job" >&2
  exit 0
fi
folder="$("$mkspool" --spool-folder)"
mkdir -p "$folder"
shopt -s nullglob nocaseglob
jobs=("$folder"/*.shd "$folder"/*.spl)
if ((${#jobs[@]})); then
  exit 0
fi
# The spool data file first: the watcher looks at a job once its shadow file is there.
cp "$here/resources/sample-job/00001.SPL" "$folder/00001.SPL"
cp "$here/resources/sample-job/00001.SHD" "$folder/00001.SHD"
echo "sample print job put into $folder"
