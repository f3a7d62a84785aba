#!/usr/bin/env bash
# The fault sweep: each system call that an upgrade's install worker makes,
# failed once, failed for good, and the setup killed at it, in turn, each time
# over a whole running installation in a situation (testbed/fault_sweep/situations.cpp),
# followed by one more run, answered as Windows answers, that must heal it.
#
#   scripts/faultsweep.sh [--situation NAME|all]... [--sample K]
#       [--only N[:fail|:persist|:kill]] [--slots S] [--in-slot]
#
# --situation  the situations to sweep (repeatable; by default product-folder),
#              each counted on its own.
# --sample K   K points spread evenly over the situations, and in each over
#              its counted calls and the three kinds; --only N the three kinds
#              of call N (or the one given) in each situation.
# --in-slot    in the Wine slot the environment names (as CTest's tests run),
#              without installing or building.
# Exits 0 when every point healed, no failed call left a service stopped and
# no completion page showed with a service down (testbed/fault_sweep/fault_point.cpp holds
# the promise and its exceptions).
# shellcheck disable=SC2317 # functions called through in_slot_run
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

sample=0 only="" slots="${PORTVANE_SWEEP_SLOTS:-6}" in_slot=0 situations=()
while (($#)); do
    case "$1" in
    --situation) situations+=("$2"); shift ;;
    --sample) sample="$2"; shift ;;
    --only) only="$2"; shift ;;
    --slots) slots="$2"; shift ;;
    --in-slot) in_slot=1 ;;
    *) echo "faultsweep.sh: unknown option $1" >&2; exit 64 ;;
    esac
    shift
done
((${#situations[@]})) || situations=(product-folder)
kinds=(fail persist kill)

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

# Runs the points given (KIND:N:SITUATION), each over a whole running
# installation: made afresh first and after a point that did not heal. One
# line a point.
run_points() {
    local point
    fault_point install >/dev/null || fault_point install || return 1
    for point in "$@"; do
        fault_point "${point%:*}" "${point##*:}" 'C:\fault-point.log'
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
        # situation to situation, so that a few points cover all three.
        count=$(((sample - index + ${#situations[@]} - 1) / ${#situations[@]}))
        for ((point = 0; point < count; point++)); do
            number=$(((2 * point + 1) * calls / (2 * count) + 1))
            echo "${kinds[(point + index) % 3]}:$number:$situation"
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
    local lines="$1" prefix="$2" total failed persisted unhealed unmade
    total=$(grep -c '^point ' "$lines")
    # A completion page that lies counts with the failures of its kind.
    failed=$(grep -cE '^point (fail|kill):.*(LEFT NO SERVICE|COMPLETION LIED)' "$lines")
    persisted=$(grep -cE '^point persist:.*(LEFT NO SERVICE|COMPLETION LIED)' "$lines")
    unhealed=$(grep -c 'NOT HEALED' "$lines")
    unmade=$(grep -c 'SITUATION NOT MADE' "$lines")
    ((unmade == 0)) || echo "${prefix}situations not made: $unmade"
    echo "${prefix}fault points: $total, failed calls leaving no service: $failed," \
        "persistent failures leaving no service: $persisted," \
        "not healed by one more run: $unhealed"
    ((total > 0 && failed == 0 && persisted == 0 && unhealed == 0 && unmade == 0))
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
    [[ -n "$only" && "$only" != *:* ]] && known=$((known * 3))
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
