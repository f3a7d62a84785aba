#!/usr/bin/env bash
# Installs what is needed, builds Portvane_Setup.exe and runs it under Wine: on the
# user's display when there is one, else a walk through the wizard under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh

source testbed/wine-testbed.sh
if [[ -n "${DISPLAY:-}" ]]; then
    TESTBED_ROOT="$PWD/build/wine-run"
    testbed_make_template
    export WINEPREFIX="$TESTBED_ROOT/prefix"
    [[ -d "$WINEPREFIX" ]] || cp -a "$TESTBED_ROOT/template" "$WINEPREFIX"
    wine build/windows/Portvane_Setup.exe
    exit $?
fi

TESTBED_ROOT="$PWD/build/wine-run"
testbed_start
trap testbed_stop EXIT
rm -rf build/windows/screenshots
PORTVANE_BUILD_DIR="$PWD/build/windows" wine build/windows/testbed/walkthrough.exe
for bmp in build/windows/screenshots/*.bmp; do
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "screenshots of the wizard pages: $PWD/build/windows/screenshots/"
