# Sourced by the test and run commands: a private Xvfb display and an isolated
# 64-bit Wine prefix under the build tree, cloned from a template booted once.
# Defines testbed_start and testbed_stop; exports WINEPREFIX, DISPLAY, LANG.

TESTBED_ROOT="${TESTBED_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

testbed_wine() { wine "$@" </dev/null >/dev/null 2>&1; }

testbed_reg_add() { testbed_wine reg add "$@" /f; }

# Booting a prefix takes ~17 s; a template is kept and copied (never hard-linked:
# Wine rewrites system.reg in place).
testbed_make_template() {
    local template="$TESTBED_ROOT/template"
    [[ -f "$template/.ready" ]] && return 0
    rm -rf "$template"
    mkdir -p "$template"
    WINEPREFIX="$template" wineboot -i </dev/null >/dev/null 2>&1
    (
        export WINEPREFIX="$template"
        # Without a window manager every hide waits ~2 s for one.
        testbed_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
        # The setup refuses to start without .NET Framework 4.5 or later.
        testbed_reg_add 'HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full' \
            /v Release /t REG_DWORD /d 528040 /reg:32
        wineserver -w
    )
    # Wine links Desktop, Documents and the like to the Unix home: the tests'
    # shortcuts would land in $HOME and be shared by every prefix.
    local link
    for link in "$template"/drive_c/users/*/*; do
        if [[ -L "$link" ]]; then
            rm "$link"
            mkdir "$link"
        fi
    done
    touch "$template/.ready"
}

testbed_free_display() {
    local n
    for n in $(seq 91 140); do
        if [[ ! -e "/tmp/.X${n}-lock" && ! -e "/tmp/.X11-unix/X${n}" ]]; then
            echo "$n"
            return 0
        fi
    done
    return 1
}

testbed_start() {
    mkdir -p "$TESTBED_ROOT"
    testbed_make_template
    export WINEPREFIX="$TESTBED_ROOT/prefix"
    rm -rf "$WINEPREFIX"
    cp -a "$TESTBED_ROOT/template" "$WINEPREFIX"

    local display
    display=$(testbed_free_display)
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    TESTBED_XVFB_PID=$!
    export DISPLAY=":$display"
    for _ in $(seq 50); do
        [[ -e "/tmp/.X11-unix/X$display" ]] && break
        sleep 0.1
    done
    # Wine's own services must start outside any captured pipe, or CTest waits for them.
    wineserver -p </dev/null >/dev/null 2>&1
    testbed_wine wineboot
}

testbed_stop() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    if [[ -n "${TESTBED_XVFB_PID:-}" ]]; then
        kill "$TESTBED_XVFB_PID" 2>/dev/null || true
        wait "$TESTBED_XVFB_PID" 2>/dev/null || true
    fi
}
