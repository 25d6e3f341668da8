#!/bin/sh
# index_fuzz_seeds.sh <sample-dvd-root> <corpus-folder>: starting points for
# the index fuzzer: the heads of the sample VOBs (a leading byte picks the
# file split) and a few tiny program streams.
set -eu
root=$1
corpus=$2
mkdir -p "$corpus"
i=0
for vob in "$root"/*/VIDEO_TS/VTS_0*_1.VOB; do
  [ -f "$vob" ] || continue
  i=$((i + 1))
  { printf '\000'; head -c 65536 "$vob"; } >"$corpus/head$i"
  { printf '\001'; head -c 24576 "$vob"; } >"$corpus/split$i"
done
printf '\000\000\000\001\272' >"$corpus/pack"
printf '\000\000\000\001\263\000\000\000\000\000\000\001\265\020' >"$corpus/seq"
