#!/bin/sh
# dvd_folder_fuzz_seeds.sh <sample-dvd-root> <corpus-folder>: starting points
# for the DVD folder fuzzer: per sample disc its first title set's IFO file
# (behind a choice byte and its length) and the head of its first VOB file.
set -eu
root=$1
corpus=$2
mkdir -p "$corpus"
i=0
for ifo in "$root"/*/VIDEO_TS/VTS_01_0.IFO; do
  [ -f "$ifo" ] || continue
  size=$(wc -c <"$ifo")
  [ "$size" -lt 65536 ] || continue
  i=$((i + 1))
  vob=$(dirname "$ifo")/VTS_01_1.VOB
  for choice in 0 23; do
    {
      printf "\\$(printf '%03o' "$choice")"
      printf "\\$(printf '%03o' $((size / 256)))\\$(printf '%03o' $((size % 256)))"
      cat "$ifo"
      head -c 16384 "$vob"
    } >"$corpus/disc${i}_$choice"
  done
done
