#!/usr/bin/env bash
# Plays the preview form of a real job's script in the preview player under
# valgrind, while the program holds the frameserver installed, and prints
# valgrind's summary: the player hands its pictures to the uninstrumented
# scaler, which AddressSanitizer cannot see into.
#
#   tools/valgrind/play_preview.sh [BUILD_DIR] [WIDTH] [SECONDS] [PLAYER]
#
# BUILD_DIR defaults to build/default, WIDTH to 476 (the job is made by
# kestrevane-cli at 1500 Kbps from the pal_sync sample), SECONDS to 90 and
# PLAYER to the program folder's mplayer2. Everything runs in a private
# registry, data and runtime folder that is removed afterwards.
set -euo pipefail

build=$(realpath "${1:-build/default}")
width=${2:-476}
seconds=${3:-90}
player=$(realpath "${4:-$build/Kestrevane/mplayer2}")
folder="$build/Kestrevane"
work=$(mktemp -d)
trap 'kill "$program" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

export XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" KESTREVANE_REGISTRY="$work/registry.db"
export QT_QPA_PLATFORM=offscreen DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$work/jobs"
chmod 700 "$XDG_RUNTIME_DIR"

"$folder/kestrevane-cli" new --name Preview --dest "$work/jobs" --dvd "$build/sample-dvds/pal_sync" \
  --bitrate 1500 --width "$width" > /dev/null
data="$work/jobs/Preview/.kvnj"
# The preview form of the volume script: the preview's resizer and decoder
# mode, no cut and no start mark.
sed -e 's/LanczosResize/BilinearResize/' -e 's/idct=4/idct=6/' -e '/^Trim(/d' \
  -e '/^WriteFileStart(/d' "$data/out01.avs" > "$data/preview.avs"
grep Resize "$data/preview.avs"

c++ -shared -fPIC -O2 -o "$work/rdtscp_stand_in.so" "$(dirname "$0")/rdtscp_stand_in.cpp"
"$folder/Kestrevane" > "$work/program.log" 2>&1 &
program=$!
# The program installs the frameserver at start-up.
for _ in $(seq 300); do
  [ -e "$XDG_DATA_HOME/kestrevane/system/avisynth.dll" ] && break
  sleep 0.1
done

cd "$data"
LD_PRELOAD="$work/rdtscp_stand_in.so" timeout -s TERM "$seconds" \
  valgrind --error-limit=no "$player" preview.avs > "$work/valgrind.log" 2>&1 || true
# Two reads past a 9-byte block inside the dynamic loader (strncmp over an
# rpath copy) are glibc's own and show in every program started this way.
grep -E "Invalid (read|write)|after a block|ERROR SUMMARY|Assertion|Heap block" "$work/valgrind.log" |
  sort | uniq -c | sort -rn
