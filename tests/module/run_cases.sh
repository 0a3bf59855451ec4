#!/usr/bin/env bash
# Runs the module's golden cases against the real runtime.
#
#   run_cases.sh GWRT GWCTL CASES_DIR [CASE ...]
#
# Each case file (cases/*.case) holds, line by line:
#   # text                  the first one is the case's description; others are comments
#   gwctl ARGS...           a gwctl command (shell words; it must succeed)
#   refused gwctl ARGS...   a gwctl command that must fail
#   export NAME             keeps the output of "gwctl call <root> _Export" under NAME
#   import NAME             calls "<root> _Import" with what NAME holds
#   restart                 stops gwrt and starts a fresh one (empty tree, empty firewall)
#   clock TIME [unsynced]   sets the schedules' clock (UTC, "2026-03-30T21:00:00Z"); it runs on
#                           from there, and each setting is a jump of the clock
#   == status               then Path.Param=value lines, up to an empty line: values expected
#   == firewall             then the exact "gwctl firewall" output, up to an empty line
#   == rules                then its rule lines ("-A ..."), in order, up to an empty line (an
#                           empty block: no rule at all)
#   == gwctl ARGS...        then its exact output (stdout and stderr), and "exit N" when it
#                           fails, up to an empty line; it may run more than once, so it is
#                           for commands that change nothing
#   => gwctl ARGS...        the same for a command that may change state: it runs once, where
#                           it stands, and its output is then what the block compares
# A check block waits until what it expects holds, but never accepts a state younger than the
# module's one-second commit delay (so a rebuild still due cannot slip past), and fails after
# a deadline with a diff.
# NS_GWRT_PRELOAD, when set, is the LD_PRELOAD of gwrt (see CMakeLists.txt).
set -u

GWRT=$1
GWCTL=$2
CASES_DIR=$3
shift 3
SOURCE_DIR=$(cd "$(dirname "$0")/../.." && pwd)
ROOT=Device.NetworkSettings.
SETTLE_MS=1200      # commit delay of the module plus a margin
DEADLINE_MS=15000   # per check block

PARALLEL=4         # cases at once: they mostly wait out the commit delay
GWRT_PID=""
declare -A SAVED

now_ms() {
    local t=${EPOCHREALTIME/./}
    echo $((t / 1000))
}

write_config() {
    cat > "$WORK/gwrt.conf" <<EOF
%config {
    definitions = [ "$SOURCE_DIR/datamodel/networksettings-qk.def" ];
    services = [ "$SOURCE_DIR/services/hosts/hosts.def",
                 "$SOURCE_DIR/services/schedules/schedules.def",
                 "$SOURCE_DIR/services/devices/devices.def" ];
    socket = "$WORK/gwrt.sock";
    firewall = { backend = "memory"; };
    trace = "default=200";
    schedules-clock = "fake:$WORK/clock";
}
EOF
    echo "2026-01-05T12:00:00Z" > "$WORK/clock"
}

start_gwrt() {
    LD_PRELOAD=${NS_GWRT_PRELOAD:-${LD_PRELOAD:-}} "$GWRT" --config "$WORK/gwrt.conf" > "$WORK/gwrt.out" 2> "$WORK/gwrt.err" &
    GWRT_PID=$!
    local waited=0
    until "$GWCTL" --socket "$WORK/gwrt.sock" get "$ROOT" > /dev/null 2>&1; do
        if ! kill -0 "$GWRT_PID" 2> /dev/null || [ $waited -ge 200 ]; then
            echo "gwrt did not start:"; cat "$WORK/gwrt.err"
            return 1
        fi
        sleep 0.05
        waited=$((waited + 1))
    done
}

stop_gwrt() {
    if [ -n "$GWRT_PID" ]; then
        kill -TERM "$GWRT_PID" 2> /dev/null
        wait "$GWRT_PID"
        local rc=$?
        GWRT_PID=""
        if [ $rc -ne 0 ] || grep -q "Sanitizer\|runtime error" "$WORK/gwrt.err"; then
            echo "gwrt ended with $rc:"; cat "$WORK/gwrt.err"
            return 1
        fi
    fi
    return 0
}

ctl() {
    "$GWCTL" --socket "$WORK/gwrt.sock" "$@"
}

# Whether every expected Path.Param=value line holds now; the differences go to $WORK/diff.
status_holds() {
    local expected=$1 line path ok=0
    : > "$WORK/diff"
    while IFS= read -r line; do
        path=${line%%=*}
        local actual
        actual=$(ctl get "$path" 2>&1)
        if [ "$actual" != "$line" ]; then
            printf -- '- %s\n+ %s\n' "$line" "$actual" >> "$WORK/diff"
            ok=1
        fi
    done <<< "$expected"
    return $ok
}

# Whether $WORK/actual is the expected text (none for an empty block); the diff goes to $WORK/diff.
same_as() {
    if [ -n "$1" ]; then printf '%s\n' "$1"; fi > "$WORK/expected"
    diff -u "$WORK/expected" "$WORK/actual" > "$WORK/diff"
}

firewall_holds() {
    ctl firewall > "$WORK/actual" 2>&1
    same_as "$1"
}

rules_holds() {
    ctl firewall 2>&1 | grep -v '^# \|^\*filter$\|^:FORWARD6\?_AccessControl_QK - \[0:0\]$\|^COMMIT$' > "$WORK/actual"
    same_as "$1"
}

run_output() {
    eval "ctl $OUTPUT_ARGS" > "$1" 2>&1 < /dev/null
    local rc=$?
    [ $rc -eq 0 ] || echo "exit $rc" >> "$1"
}

output_holds() {
    run_output "$WORK/actual"
    same_as "$1"
}

ran_holds() {
    cp "$WORK/ran" "$WORK/actual"
    same_as "$1"
}

# Waits until the check holds, no sooner than SETTLE_MS after the last change.
check() {
    local kind=$1 expected=$2
    local start
    start=$(now_ms)
    while :; do
        local now
        now=$(now_ms)
        if [ $((now - LAST_CHANGE)) -ge $SETTLE_MS ] && "${kind}_holds" "$expected"; then
            return 0
        fi
        if [ $((now - start)) -ge $DEADLINE_MS ]; then
            echo "    $kind differs:"
            sed 's/^/    /' "$WORK/diff"
            return 1
        fi
        sleep 0.1
    done
}

run_command() {
    local line=$1
    LAST_CHANGE=$(now_ms)
    case "$line" in
    "gwctl "*)
        eval "ctl ${line#gwctl }" > "$WORK/out" 2>&1 || { echo "    failed: $line"; cat "$WORK/out"; return 1; }
        ;;
    "refused gwctl "*)
        if eval "ctl ${line#refused gwctl }" > "$WORK/out" 2>&1; then
            echo "    accepted: $line"
            return 1
        fi
        ;;
    "export "*)
        SAVED[${line#export }]=$(ctl call "$ROOT" _Export) || { echo "    export failed"; return 1; }
        ;;
    "import "*)
        ctl call "$ROOT" _Import "${SAVED[${line#import }]}" > "$WORK/out" 2>&1 ||
            { echo "    import failed"; cat "$WORK/out"; return 1; }
        ;;
    "clock "*)
        echo "${line#clock }" > "$WORK/clock.new" && mv "$WORK/clock.new" "$WORK/clock"
        ;;
    "restart")
        stop_gwrt && start_gwrt || return 1
        ;;
    *)
        echo "    unknown line: $line"
        return 1
        ;;
    esac
}

run_case() {
    local file=$1 description="" block="" kind="" line
    LAST_CHANGE=$(now_ms)
    start_gwrt || return 1
    while IFS= read -r line || [ -n "$line" ]; do
        if [ -n "$kind" ]; then
            if [ -z "$line" ]; then
                check "$kind" "$block" || return 1
                kind=""
            else
                block+="${block:+$'\n'}$line"
            fi
            continue
        fi
        case "$line" in
        "") ;;
        "#"*) [ -z "$description" ] && description=${line#\# } && echo "  $description" ;;
        "== status") kind=status; block="" ;;
        "== firewall") kind=firewall; block="" ;;
        "== rules") kind=rules; block="" ;;
        "== gwctl "*) kind=output; OUTPUT_ARGS=${line#== gwctl }; block="" ;;
        "=> gwctl "*)
            kind=ran; OUTPUT_ARGS=${line#=> gwctl }; block=""
            LAST_CHANGE=$(now_ms)
            run_output "$WORK/ran"
            ;;
        *) run_command "$line" || return 1 ;;
        esac
    done < "$file"
    if [ -n "$kind" ]; then
        check "$kind" "$block" || return 1
    fi
    stop_gwrt
}

# One case with a gwrt and a folder of its own; its report goes to stdout.
run_alone() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/ns-cases.XXXXXX")
    trap 'stop_gwrt > /dev/null; rm -rf "$WORK"' EXIT
    write_config
    echo "$(basename "$1")"
    run_case "$1" && return 0
    echo "  FAILED"
    return 1
}

cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
    cases=("$CASES_DIR"/*.case)
fi
LOGS=$(mktemp -d "${TMPDIR:-/tmp}/ns-cases-logs.XXXXXX")
trap 'rm -rf "$LOGS"' EXIT
for i in "${!cases[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge $PARALLEL ]; do
        wait -n
    done
    (run_alone "${cases[$i]}" > "$LOGS/$i" 2>&1; echo $? > "$LOGS/$i.rc") &
done
wait
failed=0
for i in "${!cases[@]}"; do
    cat "$LOGS/$i"
    [ "$(cat "$LOGS/$i.rc")" = 0 ] || failed=$((failed + 1))
done
echo "${#cases[@]} cases, $failed failed"
[ $failed -eq 0 ]
