# Sourced by the test and run commands: isolated 64-bit Wine prefixes under the
# build tree, cloned from a template booted once, each with a private Xvfb display
# and a wineserver of its own (a slot). Defines testbed_start (one slot),
# testbed_start_slots (several, for CTest's resource allocation), testbed_open_slot,
# testbed_close_slot and testbed_stop; exports WINEPREFIX, DISPLAY, LANG.

TESTBED_ROOT="${TESTBED_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine}"
export TESTBED_ROOT
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
TESTBED_SLOTS=()

testbed_wine() { wine "$@" </dev/null >/dev/null 2>&1; }

testbed_reg_add() { testbed_wine reg add "$@" /f; }

# Booting a prefix takes ~17 s; a template is kept and copied. It is made again
# for another Wine version, which would update the images linked from it.
testbed_make_template() {
    local template="$TESTBED_ROOT/template" version
    version=$(wine --version)
    [[ "$(cat "$template/.ready" 2>/dev/null)" == "$version" ]] && return 0
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
    echo "$version" >"$template/.ready"
}

# testbed_copy_template PREFIX. Wine only reads its PE images, nearly all of the
# 1.3 GB, so they are hard-linked (a copy of each took 3.5 s of system time per
# prefix); everything else is copied, above all the registry files, which Wine
# rewrites in place.
testbed_copy_template() {
    local prefix
    prefix=$(realpath -m "$1")
    cp -al "$TESTBED_ROOT/template/." "$prefix" &&
        (cd "$TESTBED_ROOT/template" &&
            find . -type f ! \( -iname '*.dll' -o -iname '*.exe' \) \
                -exec cp -p --remove-destination --parents -t "$prefix" {} +)
}

# testbed_open_slot PREFIX: a fresh copy of the template at PREFIX, an Xvfb
# display and a persistent wineserver of its own, and Wine's services started,
# all outside any captured pipe (or CTest would wait for them). PREFIX.slot
# then sets WINEPREFIX and DISPLAY for a shell that sources it.
testbed_open_slot() {
    local prefix="$1" display="" xvfb
    # A run that was killed may have left the old prefix's server running.
    [[ -d "$prefix" ]] && WINEPREFIX="$prefix" wineserver -k </dev/null >/dev/null 2>&1
    rm -rf "$prefix" "$prefix.slot" "$prefix.display"
    testbed_copy_template "$prefix" || return 1
    # Xvfb picks a free display itself: runs of other worktrees start theirs too.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$prefix.display" </dev/null >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        display=$(cat "$prefix.display" 2>/dev/null)
        [[ -n "$display" ]] && break
        sleep 0.1
    done
    rm -f "$prefix.display"
    if [[ -z "$display" ]]; then
        echo "no Xvfb display for $prefix" >&2
        kill "$xvfb" 2>/dev/null
        return 1
    fi
    printf 'export WINEPREFIX=%q DISPLAY=:%s\nTESTBED_XVFB_PID=%s\n' \
        "$prefix" "$display" "$xvfb" >"$prefix.slot"
    # The display comes first: a prefix started without it stays bound to none.
    (
        source "$prefix.slot"
        wineserver -p </dev/null >/dev/null 2>&1
        testbed_wine wineboot
    )
}

# Ends the slot's Wine processes and its display; the prefix stays for a look.
testbed_close_slot() {
    local prefix="$1" xvfb
    [[ -f "$prefix.slot" ]] || return 0
    WINEPREFIX="$prefix" wineserver -k </dev/null >/dev/null 2>&1
    xvfb=$(source "$prefix.slot" && echo "$TESTBED_XVFB_PID")
    [[ -n "$xvfb" ]] && kill "$xvfb" 2>/dev/null
    rm -f "$prefix.slot"
}

# testbed_start_slots COUNT: slots slot-0 ... made side by side, and the file
# $TESTBED_ROOT/slots.json that lists them for CTest as resource "wine"
# (testbed/in-slot.sh finds a test's slot by its id). The shell gets slot-0,
# where CTest lists the tests before it runs any.
testbed_start_slots() {
    local count="$1" index ids="" pids=() pid failed=0
    mkdir -p "$TESTBED_ROOT"
    testbed_make_template || return 1
    for ((index = 0; index < count; index++)); do
        TESTBED_SLOTS+=("$TESTBED_ROOT/slot-$index")
        testbed_open_slot "$TESTBED_ROOT/slot-$index" &
        pids+=($!)
        ids+="${ids:+, }{\"id\": \"$index\", \"slots\": 1}"
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || failed=1
    done
    printf '{"version": {"major": 1, "minor": 0}, "local": [{"wine": [%s]}]}\n' "$ids" \
        >"$TESTBED_ROOT/slots.json"
    source "$TESTBED_ROOT/slot-0.slot" && ((failed == 0))
}

# One slot, $TESTBED_ROOT/prefix, for the shell and whatever it runs.
testbed_start() {
    mkdir -p "$TESTBED_ROOT"
    testbed_make_template || return 1
    TESTBED_SLOTS+=("$TESTBED_ROOT/prefix")
    testbed_open_slot "$TESTBED_ROOT/prefix" && source "$TESTBED_ROOT/prefix.slot"
}

testbed_stop() {
    local prefix
    for prefix in "${TESTBED_SLOTS[@]}"; do
        testbed_close_slot "$prefix"
    done
    TESTBED_SLOTS=()
}
