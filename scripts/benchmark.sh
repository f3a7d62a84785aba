#!/usr/bin/env bash
# Benchmark of the project (not a timed test): prints measured figures side by
# side. Each section is a function named section_<name>; run them all or name
# some: scripts/benchmark.sh [section...]. Sections: payload, worker.
#
# Environment: PORTVANE_BUILD_DIR (the cross build, default build/windows),
# BENCH_DIR (scratch space, default <build>/benchmark), BENCH_ROUNDS (default 9),
# WINEPREFIX (default: the test bed's prefix, started and stopped here).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${PORTVANE_BUILD_DIR:-$ROOT/build/windows}"
BENCH_DIR="${BENCH_DIR:-$BUILD/benchmark}"
ROUNDS="${BENCH_ROUNDS:-9}"
SECTIONS=(payload worker)

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

# The realistic payload (9,654,691 bytes unpacked in all), packed as the build
# packs it; the program's own decoder under Wine against liblzma (xz) and the
# LZMA SDK's own tool, natively, on the same modules.
section_payload() {
    local bench="$BUILD/payload/payload_bench.exe"
    [[ -f "$bench" ]] || { echo "payload: build payload_bench first ($bench)" >&2; return 1; }
    local files="$BENCH_DIR/payload-files" packed="$BENCH_DIR/payload-packed"
    rm -rf "$files" "$packed"
    mkdir -p "$packed"
    python3 "$ROOT/scripts/make-realistic-payload.py" "$files" >/dev/null
    local name
    for name in "$files"/*; do
        lzma_alone e "$name" "$packed/$(basename "$name").lzma" -d24 -lc3 -lp0 -pb2 \
            >/dev/null 2>&1
    done
    (cd "$files" && sha256sum -- *) >"$packed/SHA256SUMS"

    local image="$BENCH_DIR/payload-image.exe"
    run_wine "$bench" prepare "$(winepath -w "$packed")" "$(winepath -w "$image")"
    local own memory
    own=$(run_wine "$bench" time "$(winepath -w "$image")" "$ROUNDS")
    memory=$(run_wine "$bench" memory "$(winepath -w "$image")")

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

    local unpacked packed_bytes decode_min decode_median extract_min extract_median
    unpacked=$(value_of unpacked_bytes <<<"$own")
    packed_bytes=$(value_of packed_bytes <<<"$own")
    decode_min=$(value_of decode_ms_min <<<"$own")
    decode_median=$(value_of decode_ms_median <<<"$own")
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
    printf '%-48s %10s %10s\n' "whole extraction (write, decode, place, check)" \
        "$extract_min" "$extract_median"
    echo "own decode throughput / xz:         $(ratio "$xz_min" "$decode_min") (min)," \
        "$(ratio "$xz_median" "$decode_median") (median); target >= 0.95"
    echo "own decode throughput / lzma_alone: $(ratio "$alone_min" "$decode_min") (min)," \
        "$(ratio "$alone_median" "$decode_median") (median)"
    echo "whole extraction / pure decode:     $(ratio "$extract_min" "$decode_min") (min)," \
        "$(ratio "$extract_median" "$decode_median") (median); target <= 1.25"
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
    [[ -f "$bench" ]] || { echo "worker: build worker_bench first ($bench)" >&2; return 1; }
    local staging="$BENCH_DIR/worker-staging" name
    rm -rf "$staging"
    python3 "$ROOT/scripts/make-realistic-payload.py" "$staging" >/dev/null
    for name in Portvane_PService.exe Portvane_DService.exe; do
        cp "$BUILD/payload-files/$name" "$staging/$name"
    done
    local own
    own=$(run_wine "$bench" "$(winepath -w "$staging")" "$ROUNDS")
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

main() {
    local requested=("$@")
    [[ ${#requested[@]} -gt 0 ]] || requested=("${SECTIONS[@]}")
    mkdir -p "$BENCH_DIR"
    start_wine
    local section status=0
    for section in "${requested[@]}"; do
        if declare -F "section_$section" >/dev/null; then
            "section_$section" || status=1
        else
            echo "unknown section: $section (known: ${SECTIONS[*]})" >&2
            status=1
        fi
        echo
    done
    return $status
}

main "$@"
