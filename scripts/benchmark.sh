#!/usr/bin/env bash
# Benchmark of the project (not a timed test): prints measured figures side by
# side. Each section is a function named section_<name>; run them all or name
# some: scripts/benchmark.sh [section...]. Sections: payload, worker, removal,
# startup. Needs the cross build (scripts/build.sh); builds the tools it runs.
#
# Environment: PORTVANE_BUILD_DIR (the cross build, default build/windows),
# PORTVANE_BENCH_BUILD_DIR (the start-up timing build of the realistic payload,
# default windows-bench beside the cross build), BENCH_DIR (scratch space, default
# <build>/benchmark), BENCH_ROUNDS (default 9), WINEPREFIX (default: the test
# bed's prefix and display, started and stopped here; otherwise DISPLAY too).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${PORTVANE_BUILD_DIR:-$ROOT/build/windows}"
BENCH_BUILD="${PORTVANE_BENCH_BUILD_DIR:-$(dirname "$BUILD")/windows-bench}"
BENCH_DIR="${BENCH_DIR:-$BUILD/benchmark}"
ROUNDS="${BENCH_ROUNDS:-9}"
SECTIONS=(payload worker removal startup)

# "key value" lines on stdin; prints the value of key.
value_of() { awk -v key="$1" '$1 == key { print $2 }'; }

# Milliseconds since the epoch, with fractions.
now_ms() { date +%s%N | awk '{ printf "%.3f", $1 / 1e6 }'; }

# Minimum and median of the numbers on stdin, as "min median".
min_median() {
    sort -g | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.1f %.1f", v[1], m }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
throughput() { awk -v bytes="$1" -v ms="$2" 'BEGIN { printf "%.1f", bytes / 1048576 / (ms / 1000) }'; }

# Windows programs end their lines with CR LF.
run_wine() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Brings the named targets of a configured build up to date; says what failed.
build_targets() {
    local build="$1" log
    shift
    [[ -f "$build/CMakeCache.txt" ]] ||
        { echo "no configured build in $build: run scripts/build.sh first" >&2; return 1; }
    log=$(cmake --build "$build" -j2 --target "$@" 2>&1) ||
        { printf '%s\n' "$log" | tail -20 >&2; return 1; }
}

# The realistic payload (9,654,691 bytes unpacked in all) in $BENCH_DIR/payload-files,
# made once a run. A file whose bytes did not change keeps its time, so that
# the timing build does not pack it again.
REALISTIC_PAYLOAD_MADE=""
realistic_payload() {
    local files="$BENCH_DIR/payload-files" fresh="$BENCH_DIR/payload-files.new" name
    [[ -z "$REALISTIC_PAYLOAD_MADE" ]] || return 0
    rm -rf "$fresh"
    python3 "$ROOT/scripts/make-realistic-payload.py" "$fresh" >/dev/null
    mkdir -p "$files"
    for name in "$files"/*; do
        if [[ -e "$name" && ! -e "$fresh/$(basename "$name")" ]]; then
            rm -f "$name"
        fi
    done
    for name in "$fresh"/*; do
        cmp -s "$name" "$files/$(basename "$name")" || mv -f "$name" "$files/"
    done
    rm -rf "$fresh"
    REALISTIC_PAYLOAD_MADE=1
}

start_wine() {
    if [[ -z "${WINEPREFIX:-}" ]]; then
        # shellcheck source=../testbed/wine-testbed.sh
        source "$ROOT/testbed/wine-testbed.sh"
        testbed_start
        trap testbed_stop EXIT
    else
        export WINEDEBUG="${WINEDEBUG:--all}"
        wineserver -p </dev/null >/dev/null 2>&1 || true
        wine wineboot </dev/null >/dev/null 2>&1 || true
    fi
}

# The realistic payload, packed as the build packs it; the program's own
# decoder under Wine against liblzma (xz) and the LZMA SDK's own tool,
# natively, on the same modules.
section_payload() {
    local bench="$BUILD/payload/payload_bench.exe"
    build_targets "$BUILD" payload_bench || return 1
    local files="$BENCH_DIR/payload-files" packed="$BENCH_DIR/payload-packed"
    realistic_payload
    rm -rf "$packed"
    mkdir -p "$packed"
    local name
    for name in "$files"/*; do
        lzma_alone e "$name" "$packed/$(basename "$name").lzma" -d24 -lc3 -lp0 -pb2 \
            >/dev/null 2>&1
    done

    local image="$BENCH_DIR/payload-image.exe" own memory
    if ! run_wine "$bench" prepare "$(winepath -w "$packed")" "$(winepath -w "$image")" ||
        ! own=$(run_wine "$bench" time "$(winepath -w "$image")" "$ROUNDS") ||
        ! memory=$(run_wine "$bench" memory "$(winepath -w "$image")"); then
        echo "payload: payload_bench failed" >&2
        return 1
    fi

    # The native tools, timed around the process: xz decodes all ten in one
    # run, lzma_alone takes one file per run.
    local xz_times="" alone_times="" round start
    for ((round = 0; round < ROUNDS; round++)); do
        start=$(now_ms)
        xz --format=lzma -dc "$packed"/*.lzma >/dev/null
        xz_times+="$(awk -v a="$start" -v b="$(now_ms)" 'BEGIN { print b - a }')"$'\n'
        start=$(now_ms)
        for name in "$packed"/*.lzma; do
            lzma_alone d "$name" /dev/null >/dev/null 2>&1
        done
        alone_times+="$(awk -v a="$start" -v b="$(now_ms)" 'BEGIN { print b - a }')"$'\n'
    done

    local unpacked packed_bytes decode_min decode_median hash_min hash_median
    local extract_min extract_median
    unpacked=$(value_of unpacked_bytes <<<"$own")
    packed_bytes=$(value_of packed_bytes <<<"$own")
    decode_min=$(value_of decode_ms_min <<<"$own")
    decode_median=$(value_of decode_ms_median <<<"$own")
    hash_min=$(value_of hash_ms_min <<<"$own")
    hash_median=$(value_of hash_ms_median <<<"$own")
    extract_min=$(value_of extract_ms_min <<<"$own")
    extract_median=$(value_of extract_ms_median <<<"$own")
    local xz_min xz_median alone_min alone_median
    read -r xz_min xz_median < <(printf '%s' "$xz_times" | min_median)
    read -r alone_min alone_median < <(printf '%s' "$alone_times" | min_median)

    local commit_before commit_peak ws_before ws_after
    commit_before=$(value_of private_commit_before_kib <<<"$memory")
    commit_peak=$(value_of private_commit_peak_kib <<<"$memory")
    ws_before=$(value_of peak_working_set_before_kib <<<"$memory")
    ws_after=$(value_of peak_working_set_after_kib <<<"$memory")

    echo "== payload: $unpacked bytes unpacked, $packed_bytes packed, $ROUNDS rounds (min / median)"
    printf '%-48s %10s %10s %12s\n' "" "min ms" "median ms" "MiB/s (min)"
    printf '%-48s %10s %10s %12s\n' "own decoder (32-bit, Wine, in process)" \
        "$decode_min" "$decode_median" "$(throughput "$unpacked" "$decode_min")"
    printf '%-48s %10s %10s %12s\n' "xz --format=lzma -dc (native, whole run)" \
        "$xz_min" "$xz_median" "$(throughput "$unpacked" "$xz_min")"
    printf '%-48s %10s %10s %12s\n' "lzma_alone d (native, ten runs)" \
        "$alone_min" "$alone_median" "$(throughput "$unpacked" "$alone_min")"
    printf '%-48s %10s %10s %12s\n' "hashing of the packed modules (SHA-256)" \
        "$hash_min" "$hash_median" "$(throughput "$packed_bytes" "$hash_min")"
    printf '%-48s %10s %10s\n' "whole extraction (check, write, decode, place)" \
        "$extract_min" "$extract_median"
    echo "own decode throughput / xz:         $(ratio "$xz_min" "$decode_min") (min)," \
        "$(ratio "$xz_median" "$decode_median") (median); target >= 0.95"
    echo "own decode throughput / lzma_alone: $(ratio "$alone_min" "$decode_min") (min)," \
        "$(ratio "$alone_median" "$decode_median") (median)"
    echo "whole extraction / pure decode:     $(ratio "$extract_min" "$decode_min") (min)," \
        "$(ratio "$extract_median" "$decode_median") (median); target <= 1.15"
    echo "private bytes (committed, sampled): peak $((commit_peak / 1024)) MiB" \
        "($commit_peak KiB), $(((commit_peak - commit_before) / 1024)) MiB above the" \
        "$((commit_before / 1024)) MiB before extraction; target <= 20 MiB"
    echo "peak working set (Wine: the process's VmHWM): $((ws_after / 1024)) MiB," \
        "$(((ws_after - ws_before) / 1024)) MiB above the peak before extraction"
}

# The install worker's steps on a clean prefix, without the fixed wait before
# the result message. Staging: the realistic payload, with the two stand-in
# services in place of their files (the service manager needs real services).
section_worker() {
    local bench="$BUILD/install/worker_bench.exe"
    build_targets "$BUILD" worker_bench pv_standin_payload || return 1
    local staging="$BENCH_DIR/worker-staging" name
    realistic_payload
    rm -rf "$staging"
    cp -r "$BENCH_DIR/payload-files" "$staging"
    for name in Portvane_PService.exe Portvane_DService.exe; do
        cp "$BUILD/payload-files/$name" "$staging/$name"
    done
    local own
    own=$(run_wine "$bench" "$(winepath -w "$staging")" "$ROUNDS") ||
        { echo "worker: worker_bench failed" >&2; return 1; }
    echo "== worker: $(value_of worker_copied_bytes <<<"$own") bytes copied," \
        "$ROUNDS rounds from a clean prefix, without the 1000 ms wait (min / median)"
    printf '%-44s %10s %10s\n' "" "min ms" "median ms"
    local step
    for step in removal folders copy services shortcuts registry sequence; do
        printf '%-44s %10s %10s\n' "$step" \
            "$(value_of "worker_${step}_ms_min" <<<"$own")" \
            "$(value_of "worker_${step}_ms_median" <<<"$own")"
    done
}

# The removal step of a reinstall over a running installation made of the
# stand-ins (the service manager needs real services), timed inside the
# process; also with the first service registered but already stopped.
section_removal() {
    local bench="$BUILD/services/removal_bench.exe"
    build_targets "$BUILD" removal_bench pv_standin_payload || return 1
    local own
    own=$(run_wine "$bench" "$(winepath -w "$BUILD/payload-files")" "$ROUNDS") ||
        { echo "removal: removal_bench failed" >&2; return 1; }
    echo "== removal: the removal step of a reinstall, $(value_of rounds <<<"$own") rounds" \
        "(min / median / max)"
    printf '%-48s %10s %10s %10s\n' "" "min ms" "median ms" "max ms"
    local key label
    for key in removal_running removal_one_stopped; do
        label="over a running installation"
        [[ $key == removal_running ]] || label="with the first service stopped beforehand"
        printf '%-48s %10s %10s %10s\n' "$label" "$(value_of "${key}_min_ms" <<<"$own")" \
            "$(value_of "${key}_median_ms" <<<"$own")" "$(value_of "${key}_max_ms" <<<"$own")"
    done
}

# Bytes of an exe's payload resources: the "MODULE" resources and the digest
# resource (RCDATA 200), as the resource directory printed by objdump lists them.
payload_resource_bytes() {
    i686-w64-mingw32-objdump -p "$1" | awk '
        function hex(text,   value, i) {
            value = 0
            for (i = 3; i <= length(text); i++)
                value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
            return value
        }
        /^[0-9a-f]+ +Entry:/ {
            depth = index($0, "Entry:") - length($1) - 1
            key = $0
            if (key ~ /name: \[/) sub(/.*\]: /, "", key); else sub(/.*ID: /, "", key)
            sub(/,.*/, "", key)
            if (depth == 3) type = key
            if (depth == 5) name = key
        }
        /^[0-9a-f]+ +Leaf:/ && (type == "MODULE" || (type == "0x00000a" && name == "0x0000c8")) {
            size = $0
            sub(/.*Size: /, "", size)
            sub(/,.*/, "", size)
            total += hex(size)
        }
        END { print total + 0 }'
}

# How many staging folders ("uas*.tmp") the temporary folder holds.
staging_folders_in() {
    find "$1" -maxdepth 1 -type d -iname 'uas*.tmp' | wc -l
}

# Runs the setup until its welcome page is painted, then closes the wizard as
# its close box does (taskkill without /F posts WM_CLOSE), so that the setup
# removes its staging folder. The stamps file gets the setup's timing line.
run_setup_to_welcome() {
    local setup="$1" stamps="$2" pid tick
    rm -f "$stamps"
    PORTVANE_TIMING_FILE="$(winepath -w "$stamps")" wine "$setup" </dev/null >/dev/null 2>&1 &
    pid=$!
    for ((tick = 0; tick < 600; tick++)); do
        if [[ -s "$stamps" ]] || ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    # Asked again now and then: a close may come before the dialog takes it.
    for ((tick = 0; tick < 300; tick++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        if ((tick % 50 == 0)); then
            wine taskkill /IM "$(basename "$setup")" </dev/null >/dev/null 2>&1 || true
        fi
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        wine taskkill /F /IM "$(basename "$setup")" </dev/null >/dev/null 2>&1 || true
        wait "$pid" || true
        echo "startup: the wizard did not close; ended it" >&2
        return 1
    fi
    local status=0
    wait "$pid" || status=$?
    if ((status != 0)); then
        echo "startup: the setup exited with status $status" >&2
        return 1
    fi
    [[ -s "$stamps" ]] || { echo "startup: no welcome page (no timing line)" >&2; return 1; }
}

# The time from the program's entry to the welcome page's first paint, from
# the stamps of a timing build that packs the realistic payload (so Wine's own
# start is not counted), against the pure decode of the modules that very exe
# carries, in the same run; and the product exe's own size without payload.
section_startup() {
    [[ -n "${DISPLAY:-}" ]] || { echo "startup: needs a display (DISPLAY)" >&2; return 1; }
    build_targets "$BUILD" Portvane_Setup payload_bench || return 1
    realistic_payload
    local build_type
    build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
    cmake -S "$ROOT" -B "$BENCH_BUILD" --toolchain "$ROOT/cmake/toolchain-i686-mingw.cmake" \
        -DCMAKE_BUILD_TYPE="${build_type:-MinSizeRel}" -DPORTVANE_STARTUP_TIMING=ON \
        -DPORTVANE_PAYLOAD_DIR="$BENCH_DIR/payload-files" >/dev/null || return 1
    build_targets "$BENCH_BUILD" Portvane_Setup || return 1
    local setup="$BENCH_BUILD/Portvane_Setup.exe" product="$BUILD/Portvane_Setup.exe"

    local own
    own=$(run_wine "$BUILD/payload/payload_bench.exe" time "$(winepath -w "$setup")" "$ROUNDS") ||
        { echo "startup: payload_bench failed on $setup" >&2; return 1; }
    local stamps="$BENCH_DIR/startup-stamps.txt" times="" round temp left_before left_after
    temp=$(winepath -u "$(run_wine cmd /c echo %TEMP%)")
    left_before=$(staging_folders_in "$temp")
    # One untimed run first, so that every timed run starts with warm caches.
    for ((round = -1; round < ROUNDS; round++)); do
        run_setup_to_welcome "$setup" "$stamps" || return 1
        ((round < 0)) || times+="$(value_of entry_to_welcome_ms <"$stamps")"$'\n'
    done
    left_after=$(staging_folders_in "$temp")
    local welcome_min welcome_median decode_min decode_median
    read -r welcome_min welcome_median < <(printf '%s' "$times" | min_median)
    decode_min=$(value_of decode_ms_min <<<"$own")
    decode_median=$(value_of decode_ms_median <<<"$own")

    echo "== startup: timing build with the realistic payload, $ROUNDS runs (min / median)"
    printf '%-48s %10s %10s\n' "" "min ms" "median ms"
    printf '%-48s %10s %10s\n' "entry to the welcome page's first paint" \
        "$welcome_min" "$welcome_median"
    printf '%-48s %10s %10s\n' "pure decode of the same modules" "$decode_min" "$decode_median"
    printf '%-48s %10s %10s\n' "hashing of the same modules (SHA-256)" \
        "$(value_of hash_ms_min <<<"$own")" "$(value_of hash_ms_median <<<"$own")"
    printf '%-48s %10s %10s\n' "whole extraction of the same modules" \
        "$(value_of extract_ms_min <<<"$own")" "$(value_of extract_ms_median <<<"$own")"
    echo "entry to welcome / pure decode:     $(ratio "$welcome_min" "$decode_min") (min)," \
        "$(ratio "$welcome_median" "$decode_median") (median); target <= 1.35"
    echo "staging folders left behind by the $((ROUNDS + 1)) runs: $((left_after - left_before))"

    # The payload's directory entries, names and padding stay counted: the
    # figure errs high by well under a KiB.
    local name exe size payload
    for name in product timing; do
        exe=$product
        [[ $name == product ]] || exe=$setup
        size=$(stat -c %s "$exe")
        payload=$(payload_resource_bytes "$exe")
        echo "exe without payload ($name build): $((size - payload)) bytes" \
            "($(awk -v b=$((size - payload)) 'BEGIN { printf "%.1f", b / 1024 }') KiB) =" \
            "$size less $payload of payload resources;" \
            "target <= 256 KiB"
    done
}

main() {
    local requested=("$@") section status=0
    [[ ${#requested[@]} -gt 0 ]] || requested=("${SECTIONS[@]}")
    for section in "${requested[@]}"; do
        if ! declare -F "section_$section" >/dev/null; then
            echo "unknown section: $section (known: ${SECTIONS[*]})" >&2
            return 2
        fi
    done
    mkdir -p "$BENCH_DIR"
    start_wine
    for section in "${requested[@]}"; do
        "section_$section" || status=1
        echo
    done
    return $status
}

main "$@"
