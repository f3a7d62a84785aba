#!/usr/bin/env bash
# Builds a release of the setup from the real product files, in a build tree of
# its own, and writes into the out folder Portvane_Setup.exe (Authenticode-signed
# when given a key), SHA256SUMS and the bill of materials Portvane_Setup.spdx.json.
#
#   scripts/release.sh --payload DIR --out DIR [--build DIR]
#                      [--pkcs12 FILE --pass-file FILE (--timestamp URL | --no-timestamp)]
#
# --build names the build tree (default build/release); a second release into the
# same tree rebuilds only what changed. The same commit and payload give the same
# unsigned exe in any tree at any time; SOURCE_DATE_EPOCH (default: the commit's
# date) dates the bill of materials.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
# The maker's web address, as the setup writes it into the uninstall entry.
PUBLISHER_URL=$(sed -n 's/.*kMakerWebAddress = L"\(.*\)";.*/\1/p' "$ROOT/install/registration.h")
RELEASE_FILES=(Portvane_Setup.exe SHA256SUMS Portvane_Setup.spdx.json)

fail() {
    echo "release: $1" >&2
    exit "${2:-1}"
}

payload="" out="" pkcs12="" pass_file="" timestamp="" no_timestamp="" build="$ROOT/build/release"
while (($#)); do
    case "$1" in
        --no-timestamp)
            no_timestamp=1
            shift
            ;;
        --payload | --out | --pkcs12 | --pass-file | --timestamp | --build)
            (($# >= 2)) && [[ -n "$2" ]] || fail "$1 needs a value" 2
            case "$1" in
                --payload) payload="$2" ;;
                --out) out="$2" ;;
                --pkcs12) pkcs12="$2" ;;
                --pass-file) pass_file="$2" ;;
                --timestamp) timestamp="$2" ;;
                --build) build="$2" ;;
            esac
            shift 2
            ;;
        *) fail "unknown argument: $1 (see the head of $0)" 2 ;;
    esac
done
[[ -n "$payload" ]] ||
    fail "--payload DIR is required: a release packs the product files, never the stand-ins" 2
[[ -n "$out" ]] || fail "--out DIR is required" 2
[[ -d "$payload" ]] || fail "the payload folder $payload does not exist"
if [[ -n "$pkcs12" || -n "$pass_file" ]]; then
    [[ -n "$pkcs12" && -n "$pass_file" ]] || fail "--pkcs12 and --pass-file go together" 2
    [[ -r "$pkcs12" ]] || fail "cannot read the key file $pkcs12"
    [[ -r "$pass_file" ]] || fail "cannot read the password file $pass_file"
fi
if [[ -n "$pkcs12" ]]; then
    [[ -n "$timestamp" || -n "$no_timestamp" ]] ||
        fail "--pkcs12 needs --timestamp URL, your certificate authority's RFC 3161 server:
  without a time stamp the signature stops validating when the certificate expires,
  and the elevation prompt then shows an unknown publisher. --no-timestamp signs
  without one all the same." 2
    [[ -z "$timestamp" || -z "$no_timestamp" ]] ||
        fail "--timestamp and --no-timestamp exclude each other" 2
else
    [[ -z "$timestamp$no_timestamp" ]] || fail "--timestamp and --no-timestamp need --pkcs12" 2
fi

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null) ||
        fail "not a git checkout: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH

payload="$(cd "$payload" && pwd)"
mkdir -p "$out" "$build"
out="$(cd "$out" && pwd)"
# A failed release must leave nothing behind that looks like one.
for name in "${RELEASE_FILES[@]}"; do
    rm -f "${out:?}/$name"
done

(cd "$ROOT" && cmake --preset windows -B "$build" -DPORTVANE_PAYLOAD_DIR="$payload" >/dev/null) ||
    fail "configuring $build failed"
if ! cmake --build "$build" -j2 --target Portvane_Setup >"$build/release-build.log" 2>&1; then
    tail -n 30 "$build/release-build.log" >&2
    fail "the build failed (whole log: $build/release-build.log)"
fi

staging="$(mktemp -d "$out/.release.XXXXXX")"
trap 'rm -rf "$staging"' EXIT
exe="$staging/Portvane_Setup.exe"
if [[ -n "$pkcs12" ]]; then
    # Given in a file, the password never shows in the process list.
    if ! osslsigncode sign -pkcs12 "$pkcs12" -readpass "$pass_file" -h sha256 \
        -n Portvane -i "$PUBLISHER_URL" ${timestamp:+-ts "$timestamp"} \
        -in "$build/Portvane_Setup.exe" -out "$exe" >"$staging/sign.log" 2>&1; then
        cat "$staging/sign.log" >&2
        fail "signing failed; nothing was released"
    fi
else
    cp "$build/Portvane_Setup.exe" "$exe"
fi

cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
# The compilers CMake found and used, C++ first.
compiler() {
    sed -n "s/^set(CMAKE_$1_COMPILER \"\(.*\)\")\$/\1/p" \
        "$build"/CMakeFiles/*/CMake"$1"Compiler.cmake
}
python3 "$ROOT/scripts/write-spdx.py" --exe "$exe" --payload "$payload" \
    --modules "$(cache_value PV_PAYLOAD_MODULES)" \
    --compiler "$(compiler CXX)" --compiler "$(compiler C)" \
    --lzma-source "$(cache_value LZMA_SDK_DIR)/LzmaDec.c" --date "$SOURCE_DATE_EPOCH" \
    --maker-url "$PUBLISHER_URL" \
    >"$staging/Portvane_Setup.spdx.json" || fail "writing the bill of materials failed"
(cd "$staging" && sha256sum Portvane_Setup.exe Portvane_Setup.spdx.json >SHA256SUMS)

# The exe last: whoever sees it finds its checksums and bill of materials beside it.
mv "$staging/SHA256SUMS" "$staging/Portvane_Setup.spdx.json" "$out/"
mv "$exe" "$out/"

commit=$(git -C "$ROOT" describe --always --dirty 2>/dev/null || echo "an unknown commit")
echo "release of $commit with the product files of $payload, in $out:"
if [[ -n "$pkcs12" ]]; then
    echo "  Portvane_Setup.exe        signed with $pkcs12," \
        "${timestamp:+time-stamped by $timestamp}${no_timestamp:+without a time stamp}"
else
    echo "  Portvane_Setup.exe        unsigned"
fi
echo "  SHA256SUMS                check with: (cd $out && sha256sum -c SHA256SUMS)"
echo "  Portvane_Setup.spdx.json  SPDX 2.3 bill of materials"
sed 's/^/  /' "$out/SHA256SUMS"
