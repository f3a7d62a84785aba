// A reader over bytes in memory and a writer that only counts, for decoding a
// stream without files: the benchmark's pure decode, the fuzzer and tests.
#pragma once

#include <cstring>

#include "payload/lzma_stream.h"

class MemoryReader : public ByteReader {
  public:
    MemoryReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}

    bool Read(unsigned char* buffer, size_t size, size_t& bytesRead) override {
        bytesRead = size < size_ - position_ ? size : size_ - position_;
        if (bytesRead > 0) {
            std::memcpy(buffer, data_ + position_, bytesRead);
        }
        position_ += bytesRead;
        return true;
    }

  private:
    const unsigned char* data_;
    size_t size_;
    size_t position_ = 0;
};

class CountingWriter : public ByteWriter {
  public:
    size_t Write(const unsigned char*, size_t size) override {
        total_ += size;
        return size;
    }
    unsigned long long total() const { return total_; }

  private:
    unsigned long long total_ = 0;
};
