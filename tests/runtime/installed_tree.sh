#!/usr/bin/env bash
# The installed tree on its own: `cmake --install` into a scratch root, then the installed gwrt
# started on its installed configuration, driven by the installed gwctl, with nothing of the
# source or build tree named by any installed file or mapped into the running process.
#   installed_tree.sh SOURCE_DIR BUILD_DIR PREFIX LIBDIR VERSION [sanitized [ASAN_RUNTIME]]
set -eu
SOURCE=$1 BUILD=$2 PREFIX=$3 LIBDIR=$4 VERSION=$5 SANITIZED=${6:-} ASAN=${7:-}
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/gw-installed.XXXXXX")
PID=""
trap '[ -z "$PID" ] || kill "$PID" 2> /dev/null; rm -rf "$ROOT"' EXIT
fail() { echo "FAIL: $*"; [ ! -f "$ROOT/err" ] || cat "$ROOT/err"; exit 1; }

DESTDIR=$ROOT cmake --install "$BUILD" --strip > /dev/null || fail "cmake --install"
BIN=$ROOT$PREFIX/bin
# A sanitized build keeps its source names in the instrumentation's reports, by design.
if [ -z "$SANITIZED" ]; then
    LEAKS=$(grep -rlF "$SOURCE" "$ROOT" || true)
    [ -z "$LEAKS" ] || fail "installed files naming the source or build tree: $LEAKS"
fi
for program in gwrt gwctl; do
    [ "$("$BIN/$program" --version)" = "$program $VERSION" ] || fail "$program --version"
done

# The sanitizer runtime first (GCC's), and the device-map client kept resident (see
# gw_gwrt_preload).
PRELOAD=${SANITIZED:+${ASAN:+$ASAN:}$ROOT$LIBDIR/libgmap-client.so.${VERSION%%.*}}
LD_PRELOAD=$PRELOAD "$BIN/gwrt" --socket "$ROOT/gwrt.sock" --state-dir "$ROOT/state" 2> "$ROOT/err" &
PID=$!
ctl() { "$BIN/gwctl" --socket "$ROOT/gwrt.sock" "$@"; }
for _ in $(seq 100); do ctl get Device.NetworkSettings. > /dev/null 2>&1 && break; sleep 0.1; done

ctl add Device.NetworkSettings.NetworkObject. Name=lan > /dev/null || fail "add NetworkObject"
ctl add Device.NetworkSettings.NetworkObject.1.Rule. Type=IPRange SourceIP=192.168.1.20 > /dev/null
ctl add Device.NetworkSettings.AccessControl. Enable=true \
    NetworkGroupRef=Device.NetworkSettings.NetworkObject.1 > /dev/null || fail "add AccessControl"
for _ in $(seq 50); do ctl firewall | grep -q -- "-s 192.168.1.20/32 -j DROP" && break; sleep 0.1; done
ctl firewall | grep -q -- "-A FORWARD_AccessControl_QK -s 192.168.1.20/32 -j DROP" || fail "no DROP rule"
for table in Hosts.Host. Schedules.Schedule. Devices.Device.; do
    [ "$(ctl add $table)" = "${table}1." ] || fail "the service of $table"
done

MAPPED=$(grep -F "$SOURCE" "/proc/$PID/maps" || true)
[ -z "$MAPPED" ] || fail "gwrt maps files of the source or build tree: $MAPPED"
grep -qF "$ROOT$LIBDIR/gwrt/modules/networksettings-qk.so" "/proc/$PID/maps" || fail "module not from the install"

kill -TERM "$PID"
wait "$PID" || fail "gwrt stopped with $?"
PID=""
grep -q '"Device.NetworkSettings.AccessControl"' "$ROOT/state/gwrt-state.json" || fail "configuration not saved"
echo "installed tree: ok"
