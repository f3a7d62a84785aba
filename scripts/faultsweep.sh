#!/usr/bin/env bash
# The fault sweep: each system call that an upgrade's install worker makes,
# made to fail, and the setup killed at it, in turn, each time over a whole
# running installation, followed by one more plain run that must heal it.
#
#   scripts/faultsweep.sh [--sample K] [--only N[:fail|:kill]] [--slots S]
#       [--in-slot [--part I/P]]
#
# --sample K  K points spread evenly over the counted calls, failed and killed
#             alternating; --only N both modes of call N (or the one given).
# --in-slot   in the Wine slot the environment names (as CTest's tests run),
#             without installing or building; --part I/P runs every P-th
#             point from the I-th.
# Exits 0 when every point healed and no failed call left a service stopped
# (testbed/fault_point.cpp holds the promise and its exceptions).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

sample=0 only="" slots="${PORTVANE_SWEEP_SLOTS:-6}" in_slot=0 part=1 parts=1
while (($#)); do
    case "$1" in
    --sample) sample="$2"; shift ;;
    --only) only="$2"; shift ;;
    --slots) slots="$2"; shift ;;
    --in-slot) in_slot=1 ;;
    --part) part="${2%/*}" parts="${2#*/}"; shift ;;
    *) echo "faultsweep.sh: unknown option $1" >&2; exit 64 ;;
    esac
    shift
done

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

# Runs the points given, each over a whole running installation: made afresh
# first and after a point that did not heal. One line a point.
run_points() {
    local point status=0
    fault_point install >/dev/null || fault_point install || return 1
    for point in "$@"; do
        fault_point "$point" 'C:\fault-point.log'
        status=$?
        if ((status & 2)); then
            fault_point install >/dev/null
        fi
    done
}

# The points to run for C counted calls.
select_points() {
    local calls="$1" index number
    if [[ -n "$only" ]]; then
        [[ "$only" == *:* ]] && echo "${only#*:}:${only%%:*}" || echo "fail:$only kill:$only"
    elif ((sample > 0)); then
        for ((index = 0; index < sample; index++)); do
            number=$(((2 * index + 1) * calls / (2 * sample) + 1))
            ((index % 2 == 0)) && echo "fail:$number" || echo "kill:$number"
        done
    else
        for ((number = 1; number <= calls; number++)); do
            echo "fail:$number kill:$number"
        done
    fi
}

# The counted calls of an upgrade from a whole installation, in this slot.
count_calls() {
    fault_point install >/dev/null && fault_point count 'C:\fault-count.log' |
        sed -n 's/^calls counted: \([0-9]*\)$/\1/p'
}

summarize() {
    local lines="$1" total left unhealed stopped
    total=$(grep -c '^point ' "$lines")
    left=$(grep -c 'LEFT NO SERVICE' "$lines")
    unhealed=$(grep -c 'NOT HEALED' "$lines")
    stopped=$(grep '^point ' "$lines" | grep -v $'\trunning Portvane_PService+Portvane_DService' |
        sort -t: -k2 -n)
    echo
    echo "points that leave a service not running:"
    echo "${stopped:-(none)}"
    echo "fault points: $total, failed calls leaving no service: $left, not healed by one more run: $unhealed"
    ((total > 0 && left == 0 && unhealed == 0))
}

lines=$(mktemp) || exit 1
trap 'rm -f "$lines"' EXIT
start=$SECONDS

if ((in_slot)); then
    calls=$(count_calls)
    [[ -n "$calls" && "$calls" -gt 0 ]] || { echo "faultsweep.sh: no calls counted" >&2; exit 1; }
    echo "calls counted: $calls"
    mapfile -t points < <(select_points "$calls" | tr ' ' '\n' | awk -v p="$part" -v n="$parts" \
        'NR % n == p % n')
    run_points "${points[@]}" | tee "$lines"
    summarize "$lines"
    exit
fi

# No more slots than points, which --only and a small sample know beforehand.
[[ -n "$only" ]] && slots=2
((sample > 0 && sample < slots)) && slots=$sample
scripts/install-deps.sh || exit 1
scripts/build.sh || exit 1
# shellcheck source=testbed/wine-testbed.sh
source testbed/wine-testbed.sh
trap 'testbed_stop; rm -f "$lines"' EXIT
testbed_start_slots "$slots" || exit 1

calls=$(count_calls)
[[ -n "$calls" && "$calls" -gt 0 ]] || { echo "faultsweep.sh: no calls counted" >&2; exit 1; }
echo "calls counted: $calls"
mapfile -t points < <(select_points "$calls" | tr ' ' '\n')

# Shared out in turn: neighbouring calls cost alike (a kill after the copies
# leaves more to heal).
workers=()
for ((slot = 0; slot < slots; slot++)); do
    mine=()
    for ((index = slot; index < ${#points[@]}; index += slots)); do
        mine+=("${points[index]}")
    done
    ((${#mine[@]})) || continue
    # shellcheck source=/dev/null
    (source "$TESTBED_ROOT/slot-$slot.slot" && run_points "${mine[@]}") >>"$lines" &
    workers+=($!)
done
tail -s 0.5 -n +1 -f --pid="$$" "$lines" &
follower=$!
wait "${workers[@]}"
sleep 1
kill "$follower" 2>/dev/null
summarize "$lines"
status=$?
echo "time: $((SECONDS - start)) s in $slots slots"
exit $status
