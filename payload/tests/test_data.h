// Sample streams made at build time by the payload's own packer: sample.bin
// (about 190 KB of text) packed with a known size (sample.lzma) and with an
// unknown size and an end marker (sample-eos.lzma).
#pragma once

#include <cstddef>
#include <vector>

using Bytes = std::vector<unsigned char>;

// The named sample; empty when it cannot be found.
Bytes TestData(const char* name);

// The stream with its unpacked size field (header bytes 5 to 12) replaced.
inline Bytes WithUnpackedSize(Bytes stream, unsigned long long size) {
    for (size_t i = 0; i < 8 && 5 + i < stream.size(); ++i) {
        stream[5 + i] = static_cast<unsigned char>(size >> (8 * i));
    }
    return stream;
}
