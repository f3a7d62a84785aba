#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the Windows tests and the
# end-to-end scenarios under Wine, and the native sanitizer/fuzz tests.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1
scripts/build.sh --native || exit 1

# The Wine tests mostly wait (for Wine, services, the wizard), so they run side by
# side, each in a slot of its own: a prefix, a display and a wineserver. On two
# cores they took 186, 129, 89, 59 and 52 s in 2, 3, 4, 6 and 8 slots; six keep
# them within the ~100 s of the longest test, the release test, which builds
# meanwhile. The native suite runs beside them.
slots="${PORTVANE_TEST_SLOTS:-6}"
source testbed/wine-testbed.sh
trap testbed_stop EXIT
testbed_start_slots "$slots" || exit 1

status=0
ctest --test-dir build/native --output-on-failure >build/native-tests.log 2>&1 &
native=$!
# One more than the slots, for the tests that need none (the release test).
ctest --test-dir build/windows --output-on-failure --parallel $((slots + 1)) \
    --resource-spec-file "$TESTBED_ROOT/slots.json" 2>&1 | tee build/windows-tests.log || status=1
wait "$native" || status=1
cat build/native-tests.log

# What a user would see, as PNG beside the BMPs the driver saved.
for bmp in build/windows/screenshots/*.bmp; do
    [[ -e "$bmp" ]] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

passed=0 failed=0 skipped=0
for log in build/windows-tests.log build/native-tests.log; do
    total=$(grep -oE 'tests failed out of [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+$' || echo 0)
    bad=$(grep -oE '[0-9]+ tests failed out of' "$log" | tail -1 | grep -oE '^[0-9]+' || echo 0)
    skip=$(grep -cE 'Test +#[0-9]+: .*\*\*\*Skipped' "$log" || true)
    passed=$((passed + ${total:-0} - ${bad:-0} - ${skip:-0}))
    failed=$((failed + ${bad:-0}))
    skipped=$((skipped + ${skip:-0}))
done
[[ $failed -eq 0 && $passed -gt 0 ]] || status=1
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
