#!/usr/bin/env bash
# in-slot.sh COMMAND...: runs a test's command in the Wine slot that CTest's
# resource allocation gave it (CTEST_RESOURCE_GROUP_0_WINE="id:N,slots:1"), as
# testbed_start_slots made it; without one, in the environment as it is.
set -uo pipefail
if [[ -n "${CTEST_RESOURCE_GROUP_0_WINE:-}" ]]; then
    slot="${CTEST_RESOURCE_GROUP_0_WINE#id:}"
    slot="${TESTBED_ROOT:?set by testbed_start_slots}/slot-${slot%%,*}.slot"
    # shellcheck source=/dev/null
    source "$slot" || { echo "in-slot.sh: no slot $slot" >&2; exit 1; }
fi

# Wine processes that a test starts, or starts again (its services after
# "wineboot -k"), inherit its output and outlive it: CTest would wait for ever
# on its pipe. They get a file, followed here while the command runs.
output=$(mktemp) || exit 1
"$@" >"$output" 2>&1 &
command=$!
tail -s 0.1 -n +1 -f --pid="$command" "$output"
wait "$command"
status=$?
rm -f "$output"
exit "$status"
