#!/usr/bin/env bash
# The fault sweep: each system call that an upgrade's install worker makes,
# failed once, failed for good, the setup killed at it, and the setup killed
# at it by a power cut followed by a restart, in turn, each time over a whole
# running installation in a situation (testbed/fault_sweep/situations.cpp),
# followed by one more run, answered as Windows answers, that must heal it.
#
#   scripts/faultsweep.sh [--situation NAME|all]... [--kind KIND]... [--sample K]
#       [--only N[:fail|:persist|:kill|:restart]] [--slots S] [--in-slot]
#
# --situation  the situations to sweep (repeatable; by default product-folder),
#              each counted on its own.
# --kind       only these of the four kinds (repeatable; by default all four).
# --sample K   K points spread evenly over the situations, and in each over
#              its counted calls and the four kinds; --only N the four kinds
#              of call N (or the one given) in each situation.
# --in-slot    in the Wine slot the environment names (as CTest's tests run),
#              without installing or building.
# A restart point kills the setup at the call; the data of every file it wrote
# since its last flush is lost (the file keeps its name and size, its bytes
# read as zeros); every process of the prefix ends and the prefix boots again
# (pending renames and deletes done, auto-start services started, the Run keys
# run: the tray program starts, and is ended before the next setup). Before any
# setup runs, both product services must run from a whole executable in the
# product folder, or where they ran before the upgrade, as it was then.
# Exits 0 when every point healed, no failed call left a service stopped, no
# completion page showed with a service down, and both services ran after
# every restart (testbed/fault_sweep/fault_point.cpp holds the promise and its
# exceptions).
# shellcheck disable=SC2317 # functions called through in_slot_run
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

sample=0 only="" slots="${PORTVANE_SWEEP_SLOTS:-6}" in_slot=0 situations=() kinds=()
while (($#)); do
    case "$1" in
    --situation) situations+=("$2"); shift ;;
    --kind) kinds+=("$2"); shift ;;
    --sample) sample="$2"; shift ;;
    --only) only="$2"; shift ;;
    --slots) slots="$2"; shift ;;
    --in-slot) in_slot=1 ;;
    *) echo "faultsweep.sh: unknown option $1" >&2; exit 64 ;;
    esac
    shift
done
((${#situations[@]})) || situations=(product-folder)
((${#kinds[@]})) || kinds=(fail persist kill restart)

export PORTVANE_BUILD_DIR="${PORTVANE_BUILD_DIR:-$PWD/build/windows}"
point_exe="$PORTVANE_BUILD_DIR/testbed/fault_point.exe"

# fault_point ARGS...: its output through a file, as Wine processes it starts
# may hold a pipe open; its status kept. Wine's messages go to the slot's
# prefix folder with .wine.log appended.
fault_point() {
    local output status
    output=$(mktemp) || return 1
    wine "$point_exe" "$@" >"$output" 2>>"$WINEPREFIX.wine.log" </dev/null
    status=$?
    tr -d '\r' <"$output"
    rm -f "$output"
    return "$status"
}

# The machine restarted after a power cut at a restart point: every process
# of the prefix ended; the data the setup left unflushed lost, each file in
# the injector's list found by its index (the inode) under any name the setup
# gave it; then the prefix boots again. "wineboot -r" does the pending renames
# and deletes and starts the auto-start services but skips the Run keys, which
# a plain "wineboot" runs, as the logon does. The slot's persistent server
# comes back first, and every Wine process starts with its output to nothing
# (the services it starts would hold a captured pipe).
restart_machine() {
    local list="$WINEPREFIX/drive_c/fault-point.log.unflushed" index names name file size
    wineserver -k </dev/null >/dev/null 2>&1
    while IFS=$'\t' read -r index names; do
        IFS=$'\t' read -ra names <<<"$names"
        for name in "${names[@]}"; do
            file="$WINEPREFIX/drive_c/${name#[Cc]:\\}"
            file="${file//\\//}"
            [[ -f "$file" && "$(stat -c %i "$file")" == "$index" ]] || continue
            size=$(stat -c %s "$file")
            truncate -s 0 "$file" && truncate -s "$size" "$file"
            break
        done
    done < <(cat "$list" 2>/dev/null)
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot -r </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}

# One point, KIND:N SITUATION; a restart point in two halves around the restart.
run_point() {
    local log='C:\fault-point.log'
    if [[ "$1" != restart:* ]]; then
        fault_point "$1" "$2" "$log"
        return
    fi
    rm -f "$WINEPREFIX/drive_c/fault-point.log.unflushed"
    fault_point "$1" "$2" "$log" || return
    restart_machine
    fault_point "restarted:${1#restart:}" "$2" "$log"
}

# Runs the points given (KIND:N:SITUATION), each over a whole running
# installation: made afresh first and after a point that did not heal. One
# line a point.
run_points() {
    local point
    fault_point install >/dev/null || fault_point install || return 1
    for point in "$@"; do
        run_point "${point%:*}" "${point##*:}"
        (($? & 2)) && fault_point install >/dev/null
    done
}

# The points of the situation at index I for its C counted calls.
select_points() {
    local index="$1" calls="$2" situation="${situations[$1]}" count=0 point number
    if [[ -n "$only" ]]; then
        [[ "$only" == *:* ]] && echo "${only#*:}:${only%%:*}:$situation" ||
            printf "%s:$only:$situation\n" "${kinds[@]}"
    elif ((sample > 0)); then
        # Every S-th of the K points, S the situations; the kinds turn from
        # situation to situation, so that a few points cover all four.
        count=$(((sample - index + ${#situations[@]} - 1) / ${#situations[@]}))
        for ((point = 0; point < count; point++)); do
            number=$(((2 * point + 1) * calls / (2 * count) + 1))
            echo "${kinds[(point + index) % ${#kinds[@]}]}:$number:$situation"
        done
    else
        for ((number = 1; number <= calls; number++)); do
            printf "%s:$number:$situation\n" "${kinds[@]}"
        done
    fi
}

# "INDEX CALLS" for each situation index given: the counted calls of an
# upgrade from a whole installation in that situation, in this slot.
count_calls() {
    local index
    for index in "$@"; do
        echo "$index $(fault_point install >/dev/null &&
            fault_point count "${situations[index]}" 'C:\fault-count.log' |
            sed -n 's/^calls counted: \([0-9]*\) .*/\1/p')"
    done
}

# The points of every situation counted ("INDEX CALLS" lines on stdin); the
# counts go to stderr.
points_of_counts() {
    local index calls
    while read -r index calls; do
        if [[ -z "$calls" ]]; then
            echo "faultsweep.sh: no calls counted (${situations[index]})" >&2
            continue
        fi
        echo "calls counted: $calls (${situations[index]})" >&2
        select_points "$index" "$calls"
    done
}

# The closing line of the point lines in file LINES, after PREFIX.
closing_line() {
    local lines="$1" prefix="$2" total failed persisted unhealed unmade restarted
    total=$(grep -c '^point ' "$lines")
    # A completion page that lies counts with the failures of its kind.
    failed=$(grep -cE '^point (fail|kill):.*(LEFT NO SERVICE|COMPLETION LIED)' "$lines")
    persisted=$(grep -cE '^point persist:.*(LEFT NO SERVICE|COMPLETION LIED)' "$lines")
    unhealed=$(grep -c 'NOT HEALED' "$lines")
    unmade=$(grep -c 'SITUATION NOT MADE' "$lines")
    restarted=$(grep -c 'NOT RUNNING AFTER RESTART' "$lines")
    ((unmade == 0)) || echo "${prefix}situations not made: $unmade"
    echo "${prefix}fault points: $total, failed calls leaving no service: $failed," \
        "persistent failures leaving no service: $persisted," \
        "not healed by one more run: $unhealed, not running after a restart: $restarted"
    ((total > 0 && failed == 0 && persisted == 0 && unhealed == 0 && unmade == 0 &&
        restarted == 0))
}

summarize() {
    local lines="$1" notable situation own
    notable=$(grep '^point ' "$lines" |
        grep -v $'\trunning Portvane_PService+Portvane_DService\tkept$' |
        sort -t: -k2 -n | sort -s -k3,3)
    echo
    echo "points that leave a service not running or not healed:"
    echo "${notable:-(none)}"
    # Each situation's own line first when there are several, the whole last.
    if ((${#situations[@]} > 1)); then
        own=$(mktemp) || return 1
        for situation in "${situations[@]}"; do
            grep -P "^point \\S+ \\Q$situation\\E\t" "$lines" >"$own"
            closing_line "$own" "$situation: "
        done
        rm -f "$own"
    fi
    closing_line "$lines" ""
}

# Runs one of the functions above in a subshell in slot SLOT, or with
# --in-slot in the one the environment names.
in_slot_run() {
    local slot="$1"
    shift
    # shellcheck source=/dev/null
    ( ((in_slot)) || source "$TESTBED_ROOT/slot-$slot.slot" && "$@")
}

lines=$(mktemp) && counts=$(mktemp) || exit 1
trap 'rm -f "$lines" "$counts"' EXIT
start=$SECONDS
[[ "${situations[*]}" == all ]] && all=1 || all=0

if ((in_slot)); then
    slots=1
else
    scripts/install-deps.sh || exit 1
    scripts/build.sh || exit 1
    # shellcheck source=testbed/wine-testbed.sh
    source testbed/wine-testbed.sh
    trap 'testbed_stop; rm -f "$lines" "$counts"' EXIT
    # No more slots than points, which a small sample and --only (of named
    # situations) know beforehand.
    known=0
    [[ -n "$only" ]] && ! ((all)) && known=${#situations[@]}
    [[ -n "$only" && "$only" != *:* ]] && known=$((known * ${#kinds[@]}))
    ((sample > 0)) && known=$sample
    ((known > 0 && known < slots)) && slots=$known
    testbed_start_slots "$slots" || exit 1
fi
((all)) && mapfile -t situations < <(fault_point situations)

# Each situation counted in a slot of its own, side by side.
for ((slot = 0; slot < slots && slot < ${#situations[@]}; slot++)); do
    mine=()
    for ((index = slot; index < ${#situations[@]}; index += slots)); do
        mine+=("$index")
    done
    in_slot_run "$slot" count_calls "${mine[@]}" >>"$counts" &
done
wait
mapfile -t points < <(sort -n "$counts" | points_of_counts)
uncounted=$(grep -cv ' [0-9]' "$counts")

# Shared out in turn: neighbouring calls cost alike (a kill after the copies
# leaves more to heal).
workers=()
for ((slot = 0; slot < slots; slot++)); do
    mine=()
    for ((index = slot; index < ${#points[@]}; index += slots)); do
        mine+=("${points[index]}")
    done
    ((${#mine[@]})) || continue
    in_slot_run "$slot" run_points "${mine[@]}" >>"$lines" &
    workers+=($!)
done
tail -s 0.5 -n +1 -f --pid="$$" "$lines" &
follower=$!
((${#workers[@]})) && wait "${workers[@]}"
sleep 1
kill "$follower" 2>/dev/null
summarize "$lines" && ((uncounted == 0))
status=$?
echo "time: $((SECONDS - start)) s in $slots slots"
exit $status
