#!/usr/bin/env python3
"""Marks a linked PE image to be run from the page file when it is started
from removable or network media; GNU ld has no switch for these two bits.
Keeps the optional header's checksum valid when the linker wrote one."""
import array
import struct
import sys

IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP = 0x0400
IMAGE_FILE_NET_RUN_FROM_SWAP = 0x0800


def pe_checksum(image, checksum_offset):
    padded = bytes(image) + b"\0" * (len(image) % 2)
    words = array.array("H", padded)
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words) - sum(words[checksum_offset // 2:checksum_offset // 2 + 2])
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main(path):
    with open(path, "rb") as file:
        image = bytearray(file.read())
    (pe_offset,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe_offset:pe_offset + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    characteristics_offset = pe_offset + 4 + 18
    checksum_offset = pe_offset + 4 + 20 + 64
    (characteristics,) = struct.unpack_from("<H", image, characteristics_offset)
    characteristics |= IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP
    struct.pack_into("<H", image, characteristics_offset, characteristics)
    (checksum,) = struct.unpack_from("<I", image, checksum_offset)
    if checksum != 0:
        struct.pack_into("<I", image, checksum_offset, pe_checksum(image, checksum_offset))
    with open(path, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main(sys.argv[1])
