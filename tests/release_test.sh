#!/usr/bin/env bash
# tests/release_test.sh BUILD_DIR: releases of the cross build's stand-ins, exported
# to a folder. Two, from sources and build trees in other folders, give the default
# build's exe byte for byte; a third, signed with a throwaway certificate and
# time-stamped by a time-stamp server of the test's own on 127.0.0.1, verifies with
# its time stamp, fails to with a flipped payload byte, comes back unsigned without
# its signature, and installs under Wine through the wizard. Needs the test bed's
# template (TESTBED_ROOT).
set -uo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$1"
WORK="$BUILD/release-test"
status=0

check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1" && status=1; fi
}

# Runs a command, showing what it said only when it fails.
quietly() {
    local said
    said=$("$@" 2>&1) || { echo "$said" && return 1; }
}

# Succeeds when the command fails saying something that matches the pattern.
refused() {
    local said
    said=$("${@:2}" 2>&1) && return 1
    grep -q -- "$1" <<<"$said" || { echo "$said" && return 1; }
}

# Succeeds when the command succeeds saying something that matches the pattern.
says() {
    local said
    said=$("${@:2}" 2>&1) && grep -q -- "$1" <<<"$said" || { echo "$said" && return 1; }
}

# release SCRIPT OUT TREE [option...], from the exported stand-ins.
release() { "$1" --payload "$WORK/payload" --out "$2" --build "$3" "${@:4}"; }

# File offset of the middle of the exe's first "MODULE" resource.
module_byte() {
    local vma fileoff base addr size
    read -r vma fileoff < <(i686-w64-mingw32-objdump -h "$1" |
        awk '$2 == ".rsrc" { print $4, $6 }')
    base=$(i686-w64-mingw32-objdump -p "$1" | awk '$1 == "ImageBase" { print $2 }')
    read -r addr size < <(i686-w64-mingw32-objdump -p "$1" | awk '/: MODULE,/ { module = 1 }
        module && /Leaf: Addr:/ { gsub(/,/, ""); print $4, $6; exit }')
    echo $((0x$fileoff + addr - (0x$vma - 0x$base) + size / 2))
}

# The exe's and every product file's SHA-256, and the parts the exe contains.
sbom_lists_payload() {
    python3 - "$1" "$WORK/payload" <<'EOF'
import hashlib, json, os, sys
def sha256(path): return hashlib.sha256(open(path, "rb").read()).hexdigest()
spdx, payload = json.load(open(sys.argv[1])), sys.argv[2]
listed = {(f["fileName"], c["checksumValue"]) for f in spdx["files"] for c in f["checksums"]
          if c["algorithm"] == "SHA256"}
packages = {p["name"]: p for p in spdx["packages"]}
sys.exit(not (listed == {("./" + n, sha256(os.path.join(payload, n))) for n in os.listdir(payload)}
              and len(listed) == 10 and {"lzma-dev", "mingw-w64-i686-dev"} <= packages.keys()
              and packages["Portvane_Setup"]["checksums"][0]["checksumValue"]
              == sha256(os.path.join(os.path.dirname(sys.argv[1]), "Portvane_Setup.exe"))
              and sum(r["relationshipType"] == "CONTAINS" for r in spdx["relationships"])
              == len(packages) - 1 + 10))
EOF
}

# Through the wizard in a slot of its own (a prefix of 1.3 GB, removed after, and
# a display), so that the installed services do not stay behind for the other
# tests and its windows meet none of theirs.
install_under_wine() {
    mkdir -p "$WORK/install"
    cp "$1" "$WORK/install/"
    (
        source "$ROOT/testbed/wine-testbed.sh"
        testbed_open_slot "$WORK/prefix" || exit 1
        source "$WORK/prefix.slot"
        PORTVANE_BUILD_DIR="$WORK/install" wine "$BUILD/testbed/walkthrough.exe" \
            </dev/null >"$WORK/install.log" 2>&1
        result=$?
        testbed_close_slot "$WORK/prefix"
        rm -rf "$WINEPREFIX"
        tr -d '\r' <"$WORK/install.log"
        exit $result
    )
}

rm -rf "$WORK"
mkdir -p "$WORK/elsewhere/source" "$WORK/pki" "$WORK/out-signed"
cp -r "$BUILD/payload-files" "$WORK/payload"
tar -C "$ROOT" --exclude=./build -cf - . | tar -C "$WORK/elsewhere/source" -xf -

check "a release needs --payload" \
    refused "payload DIR is required" "$ROOT/scripts/release.sh" --out "$WORK/refused"
start=$(date +%s)
check "a release builds" quietly release "$ROOT/scripts/release.sh" "$WORK/out-1" "$WORK/tree-1"
echo "     one release took $(($(date +%s) - start)) s"
check "a release from other folders builds" quietly release \
    "$WORK/elsewhere/source/scripts/release.sh" "$WORK/out-2" "$WORK/elsewhere/tree-2"
unsigned="$WORK/out-1/Portvane_Setup.exe"
check "both releases give the same exe" cmp "$unsigned" "$WORK/out-2/Portvane_Setup.exe"
check "the releases give the default build's exe" cmp "$unsigned" "$BUILD/Portvane_Setup.exe"
cmake --build "$WORK/elsewhere/tree-2" -j2 --target pv_standin_payload >/dev/null 2>&1
check "the stand-ins build to the same bytes elsewhere" \
    diff -r "$WORK/payload" "$WORK/elsewhere/tree-2/payload-files"
check "both releases write the same bill of materials" \
    cmp "$WORK/out-1/Portvane_Setup.spdx.json" "$WORK/out-2/Portvane_Setup.spdx.json"
sha256sum "$WORK"/out-*/Portvane_Setup.exe | sed 's/^/     /'

cd "$WORK/pki" || exit 1
echo throwaway >pass.txt
echo wrong >wrong.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 \
    -subj "/CN=Portvane Test CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign 2>/dev/null &&
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
        -subj "/O=ORBEK/CN=ORBEK Test Signing" 2>/dev/null &&
    openssl x509 -req -in signer.csr -CA ca.crt -CAkey ca.key -set_serial 1 -days 2 \
        -extfile <(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') \
        -out signer.crt 2>/dev/null &&
    openssl pkcs12 -export -inkey signer.key -in signer.crt -certfile ca.crt \
        -passout file:pass.txt -out signer.p12 &&
    openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr \
        -subj "/CN=Portvane Test TSA" 2>/dev/null &&
    openssl x509 -req -in tsa.csr -CA ca.crt -CAkey ca.key -set_serial 2 -days 2 \
        -extfile <(printf '%s\n' keyUsage=critical,digitalSignature \
            extendedKeyUsage=critical,timeStamping) -out tsa.crt 2>/dev/null || exit 1
echo 01 >tsa.serial
cat >tsa.cnf <<EOF
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $PWD/tsa.serial
signer_cert = $PWD/tsa.crt
signer_key = $PWD/tsa.key
signer_digest = sha256
digests = sha256
default_policy = 1.2.3.4.1
EOF
# CONFIG PORT_FILE SECONDS: answers RFC 3161 requests on 127.0.0.1 through openssl ts,
# on a port it writes into PORT_FILE, and stops by itself after SECONDS, even with a
# client that sends nothing.
cat >time_stamp_server.py <<'EOF'
import http.server, os, subprocess, sys, time
config, port_file, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
class Reply(http.server.BaseHTTPRequestHandler):
    timeout = 10
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile",
                                "/dev/stdin", "-out", "/dev/stdout"],
                               input=query, stdout=subprocess.PIPE, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
server.timeout = 1
with open(port_file + ".new", "w") as file:
    file.write(str(server.server_port))
os.rename(port_file + ".new", port_file)
deadline = time.monotonic() + seconds
while time.monotonic() < deadline:
    server.handle_request()
EOF
cd - >/dev/null || exit 1

check "a key without --timestamp or --no-timestamp is refused" refused "needs --timestamp URL" \
    release "$ROOT/scripts/release.sh" "$WORK/out-unstamped" "$WORK/tree-1" \
    --pkcs12 "$WORK/pki/signer.p12" --pass-file "$WORK/pki/pass.txt"
check "the refused release writes no exe" test ! -e "$WORK/out-unstamped/Portvane_Setup.exe"
signed="$WORK/out-signed/Portvane_Setup.exe"
touch "$signed"
check "a wrong password fails the signing" refused "signing failed" \
    release "$ROOT/scripts/release.sh" "$WORK/out-signed" "$WORK/tree-1" \
    --pkcs12 "$WORK/pki/signer.p12" --pass-file "$WORK/pki/wrong.txt" --no-timestamp
check "a failed signing leaves no exe" test ! -e "$signed"
python3 "$WORK/pki/time_stamp_server.py" "$WORK/pki/tsa.cnf" "$WORK/pki/tsa.port" 300 \
    2>"$WORK/pki/tsa.log" &
server=$!
for _ in {1..100}; do [[ -e "$WORK/pki/tsa.port" ]] && break || sleep 0.1; done
# A proxy of the environment must not take the request to the loopback address.
export no_proxy="127.0.0.1${no_proxy:+,$no_proxy}"
check "the signed, time-stamped release builds" quietly release \
    "$ROOT/scripts/release.sh" "$WORK/out-signed" "$WORK/tree-1" \
    --pkcs12 "$WORK/pki/signer.p12" --pass-file "$WORK/pki/pass.txt" \
    --timestamp "http://127.0.0.1:$(cat "$WORK/pki/tsa.port")/"
kill "$server" && wait "$server" 2>/dev/null
echo "     signature: $(($(stat -c %s "$signed") - $(stat -c %s "$unsigned"))) bytes"
# osslsigncode verify succeeds even when it cannot verify the time stamp: its line counts.
check "the signature and its time stamp verify against the test CA" \
    says "Timestamp Server Signature verification: ok" osslsigncode verify \
    -CAfile "$WORK/pki/ca.crt" -TSA-CAfile "$WORK/pki/ca.crt" -in "$signed"
cp "$signed" "$WORK/tampered.exe"
python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[int(sys.argv[2])] ^= 1
open(sys.argv[1], "wb").write(d)' "$WORK/tampered.exe" "$(module_byte "$signed")"
check "a flipped payload byte fails verification" refused "MISMATCH" \
    osslsigncode verify -CAfile "$WORK/pki/ca.crt" -in "$WORK/tampered.exe"
osslsigncode remove-signature -in "$signed" -out "$WORK/removed.exe" >/dev/null
check "removing the signature gives the unsigned exe" cmp "$WORK/removed.exe" "$unsigned"
for out in "$WORK/out-1" "$WORK/out-signed"; do
    check "sha256sum -c passes in $(basename "$out")" \
        bash -c 'cd "$0" && sha256sum --quiet -c SHA256SUMS' "$out"
done
check "the bill of materials lists the payload with its hashes" \
    sbom_lists_payload "$WORK/out-signed/Portvane_Setup.spdx.json"
check "the signed exe installs under Wine through the wizard" install_under_wine "$signed"
exit $status
