#!/usr/bin/env bash
# package_test.sh BUILD_DIR SAMPLE_DVDS
# Makes the Debian package of the build tree with CPack (into a scratch
# folder, so build/<preset>/packages stays as the user left it), checks it
# with lintian and appstreamcli, unpacks it into a scratch root, and runs
# what it installed: kestrevane-cli scan on a sample disc and the program's
# start-up on the offscreen platform.
set -uo pipefail
build=$1 samples=$2

work=$(mktemp -d)
program_pid=''
cleanup() {
  [[ -n $program_pid ]] && kill -KILL "$program_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0 passes=0
pass() { passes=$((passes + 1)); }
fail() { failures=$((failures + 1)); echo "FAIL: $*"; }
finish() { echo "$passes passed, $failures failed"; [[ $failures -eq 0 ]]; exit; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack"
  finish
fi
deb="$work/packages/kestrevane_${version}_${arch}.deb"
[[ -f $deb ]] && pass || { fail "no $deb:"; ls "$work/packages"; finish; }

# The package's fields; its dependencies come from dpkg-shlibdeps.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libqt6core6 libqt6widgets6 libavcodec libsqlite3; do
  [[ $depends == *"$library"* ]] && pass || fail "Depends lacks $library"
done
[[ $(dpkg-deb -f "$deb" Package) == kestrevane && $(dpkg-deb -f "$deb" Version) == "$version" ]] &&
  pass || fail "Package or Version field"

# lintian: no error; its warnings and notes are printed for the record.
lintian --no-cfg --fail-on error --display-info "$deb" >"$work/lintian.log" 2>&1
lintian_status=$?
echo "--- lintian"
cat "$work/lintian.log"
[[ $lintian_status -eq 0 ]] && pass || fail "lintian reports errors"

root="$work/root"
dpkg-deb -x "$deb" "$root" && pass || fail "dpkg-deb -x"
for file in usr/bin/kestrevane usr/bin/kestrevane-cli usr/lib/kestrevane/Kestrevane \
  usr/lib/kestrevane/kestrevane-cli usr/lib/kestrevane/libtessmar.so \
  usr/lib/kestrevane/helix/producer usr/lib/kestrevane/Readme.txt \
  usr/share/applications/kestrevane.desktop \
  usr/share/icons/hicolor/scalable/apps/kestrevane.svg \
  usr/share/man/man1/kestrevane.1.gz usr/share/man/man1/kestrevane-cli.1.gz \
  usr/share/bash-completion/completions/kestrevane-cli \
  usr/share/doc/kestrevane/copyright usr/share/doc/kestrevane/changelog.gz; do
  [[ -e $root/$file ]] && pass || fail "the package lacks /$file"
done
grep -qx 'Exec=/usr/bin/kestrevane' "$root/usr/share/applications/kestrevane.desktop" &&
  pass || fail "the menu entry does not start /usr/bin/kestrevane"

metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [[ ${#metainfo[@]} -eq 1 && -f ${metainfo[0]} ]]; then
  echo "--- appstreamcli validate"
  appstreamcli validate --no-net "${metainfo[0]}" && pass || fail "appstreamcli validate"
else
  fail "no single metainfo file in /usr/share/metainfo"
fi

# The installed copy runs from the scratch root, with a home of its own.
export XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/cache"
export KESTREVANE_REGISTRY="$work/registry.db" QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$work"
if "$root/usr/bin/kestrevane-cli" scan --json "$samples/pal_letterbox" >scan.json 2>scan.log; then
  grep -q '"formatVersion": 1' scan.json && grep -q '"playingTime": "00:00:12"' scan.json &&
    pass || fail "scan printed: $(cat scan.json)"
else
  fail "the installed kestrevane-cli scan failed: $(cat scan.log)"
fi
"$root/usr/bin/kestrevane-cli" --help | grep -q '^  move JOB' && pass || fail "kestrevane-cli --help"

# The program's start-up installs the frameserver from its own folder into
# the system folder; then SIGTERM ends it, and the exit clean-up removes it.
"$root/usr/bin/kestrevane" >program.log 2>&1 &
program_pid=$!
installed="$XDG_DATA_HOME/kestrevane/system/avisynth.dll"
for _ in $(seq 1 600); do  # waits for the start-up's state, at most 60 s
  [[ -f $installed ]] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -f $installed ]] && pass || fail "the installed program did not start: $(cat program.log)"
kill -TERM "$program_pid"
wait "$program_pid"
status=$?
program_pid=''
[[ $status -eq 0 ]] && pass || fail "the program ended with $status: $(cat program.log)"
[[ ! -e $installed ]] && pass || fail "the exit clean-up left the frameserver behind"

# man reads the installed pages.
for page in kestrevane kestrevane-cli; do
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 | grep -q "^NAME" &&
    pass || fail "man $page"
done
finish
