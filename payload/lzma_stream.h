// Decoding of one LZMA stream in the LZMA-alone container, from any reader to
// any writer. Free of the platform so that it can be tested and fuzzed natively.
#pragma once

#include <cstddef>
#include <cstdint>

// A sequential source of bytes.
class ByteReader {
  public:
    virtual ~ByteReader() = default;
    // Reads up to size bytes; bytesRead is 0 only at the end of the data.
    // False when reading failed.
    virtual bool Read(unsigned char* buffer, size_t size, size_t& bytesRead) = 0;
};

// A sequential sink of bytes.
class ByteWriter {
  public:
    virtual ~ByteWriter() = default;
    // Returns how many of the size bytes were taken; fewer than size is a failure.
    virtual size_t Write(const unsigned char* data, size_t size) = 0;
};

// Properties byte, dictionary size, unpacked size.
constexpr size_t kLzmaHeaderBytes = 13;
constexpr size_t kLzmaPropertyBytes = 5;
constexpr size_t kStreamBufferBytes = 65536;
// Unpacked size field with all bits set: the stream ends with an end marker.
constexpr uint64_t kUnknownUnpackedSize = UINT64_MAX;

// The unpacked size field of a container header (little-endian, bytes 5 to 12).
uint64_t UnpackedSizeOf(const unsigned char (&header)[kLzmaHeaderBytes]);

// The five properties the decoder is given: the properties byte and the
// dictionary size, capped at the unpacked size when that is known.
void DecoderPropertiesOf(const unsigned char (&header)[kLzmaHeaderBytes],
                         unsigned char (&properties)[kLzmaPropertyBytes]);

// Reads the container header and the LZMA data from reader and writes the
// decoded bytes to writer. True when the known unpacked size was produced, or,
// for an unknown size, when the end marker was met. On failure the writer may
// have taken part of the output.
bool DecodeStream(ByteReader& reader, ByteWriter& writer);
