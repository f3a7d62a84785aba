#!/usr/bin/env python3
"""Writes the SPDX 2.3 bill of materials of a release of Portvane_Setup.exe.

    write-spdx.py --exe FILE --payload DIR --modules "a;b;..." --compiler CXX
                  [--compiler CC] --lzma-source FILE --date EPOCH > Portvane_Setup.spdx.json

The exe contains the ten product files and what the build compiled and linked
in. Each of those is named by the Debian package that installed the very file
the build used, with that package's installed version. The output depends only
on its inputs: its date is the given epoch and its namespace the exe's hash.
"""
import argparse
import hashlib
import json
import os
import subprocess
import sys
import time
import urllib.parse

MAKER = "ORBEK"
SETUP_VERSION = "1.0.0.1"

# What the exe carries from the toolchain: (part, how to find its file).
COMPILED_IN = [
    ("LZMA SDK decoder (LzmaDec.c)", "lzma"),
    ("mingw-w64 runtime (libmingw32, libmingwex)", "libmingwex.a"),
    ("winpthreads (libwinpthread)", "libwinpthread.a"),
    ("GCC runtime (libgcc)", "libgcc.a"),
    ("GNU C++ library (libstdc++)", "libstdc++.a"),
]


def digests(path):
    sha1, sha256 = hashlib.sha1(), hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            sha1.update(block)
            sha256.update(block)
    return [{"algorithm": "SHA1", "checksumValue": sha1.hexdigest()},
            {"algorithm": "SHA256", "checksumValue": sha256.hexdigest()}]


def dpkg(*args):
    return subprocess.run(["dpkg-query", *args], check=True, capture_output=True,
                          text=True).stdout


def owning_package(path):
    """The installed Debian package that holds path, as (name, version, arch)."""
    real = os.path.realpath(path)
    name = dpkg("-S", real).split(":")[0].strip()
    version, arch = dpkg("-W", "-f=${Version} ${Architecture}", name).split()
    return name, version, arch


def toolchain_file(compiler, name):
    return subprocess.run([compiler, f"-print-file-name={name}"], check=True,
                          capture_output=True, text=True).stdout.strip()


def component_packages(compilers, lzma_source):
    """One SPDX package per Debian package, with the parts it gave the exe."""
    found = {}
    for part, name in COMPILED_IN:
        path = lzma_source if name == "lzma" else toolchain_file(compilers[0], name)
        found.setdefault(owning_package(path), []).append(part)
    for compiler in compilers:
        found.setdefault(owning_package(compiler), []).append(
            "the compiler " + os.path.basename(compiler))
    packages = []
    for (name, version, arch), parts in sorted(found.items()):
        packages.append({
            "SPDXID": "SPDXRef-Package-deb-" + name.replace("+", "plus"),
            "name": name,
            "versionInfo": version,
            "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION",
            "filesAnalyzed": False,
            "description": "Used by the build: " + ", ".join(parts) + ".",
            "externalRefs": [{
                "referenceCategory": "PACKAGE-MANAGER",
                "referenceType": "purl",
                "referenceLocator": "pkg:deb/debian/{}@{}?arch={}".format(
                    *(urllib.parse.quote(part) for part in (name, version, arch))),
            }],
        })
    return packages


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--payload", "--modules", "--lzma-source", "--maker-url"):
        parser.add_argument(option, required=True)
    parser.add_argument("--compiler", action="append", required=True,
                        help="the C++ compiler, then any other the build used")
    parser.add_argument("--date", type=int, required=True, help="seconds since the epoch")
    args = parser.parse_args()

    exe_sums = digests(args.exe)
    exe_sha256 = exe_sums[1]["checksumValue"]
    setup = {
        "SPDXID": "SPDXRef-Package-Portvane-Setup",
        "name": "Portvane_Setup",
        "packageFileName": os.path.basename(args.exe),
        "versionInfo": SETUP_VERSION,
        "supplier": "Organization: " + MAKER,
        "downloadLocation": "NOASSERTION",
        "homepage": args.maker_url,
        "filesAnalyzed": False,
        "primaryPackagePurpose": "INSTALL",
        "checksums": [exe_sums[1]],
    }
    files = []
    for index, name in enumerate(args.modules.split(";"), start=1):
        path = os.path.join(args.payload, name)
        files.append({
            "SPDXID": f"SPDXRef-File-{index}",
            "fileName": "./" + name,
            "checksums": digests(path),
            "comment": f"size: {os.path.getsize(path)} bytes",
        })
    components = component_packages(args.compiler, args.lzma_source)

    relationships = [{"spdxElementId": "SPDXRef-DOCUMENT",
                      "relationshipType": "DESCRIBES",
                      "relatedSpdxElement": setup["SPDXID"]}]
    for element in files + components:
        relationships.append({"spdxElementId": setup["SPDXID"],
                              "relationshipType": "CONTAINS",
                              "relatedSpdxElement": element["SPDXID"]})
    document = {
        "spdxVersion": "SPDX-2.3",
        "dataLicense": "CC0-1.0",
        "SPDXID": "SPDXRef-DOCUMENT",
        "name": "Portvane_Setup " + SETUP_VERSION,
        "documentNamespace": f"{args.maker_url}spdx/Portvane_Setup-{exe_sha256}",
        "creationInfo": {
            "created": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(args.date)),
            "creators": ["Organization: " + MAKER, "Tool: Portvane release script"],
        },
        "packages": [setup] + components,
        "files": files,
        "relationships": relationships,
    }
    json.dump(document, sys.stdout, indent=2, ensure_ascii=False)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
