// The stream decoder over memory: container forms, damaged streams and
// misbehaving readers and writers. Built natively (sanitizers) and for Windows.
#include "payload/lzma_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "payload/memory_stream.h"
#include "payload/tests/test_data.h"

namespace {

// Hands out at most chunk bytes per call, and fails once failAfter bytes
// have been handed out.
class ChunkedReader : public ByteReader {
  public:
    ChunkedReader(const Bytes& data, size_t chunk, size_t failAfter = SIZE_MAX)
        : data_(data), chunk_(chunk), failAfter_(failAfter) {}

    bool Read(unsigned char* buffer, size_t size, size_t& bytesRead) override {
        bytesRead = 0;
        if (position_ >= failAfter_) {
            return false;
        }
        bytesRead = std::min({size, chunk_, data_.size() - position_});
        std::memcpy(buffer, data_.data() + position_, bytesRead);
        position_ += bytesRead;
        return true;
    }

  private:
    const Bytes& data_;
    size_t chunk_;
    size_t failAfter_;
    size_t position_ = 0;
};

// Keeps what it is given, up to capacity bytes in all.
class BufferWriter : public ByteWriter {
  public:
    explicit BufferWriter(size_t capacity = SIZE_MAX) : capacity_(capacity) {}

    size_t Write(const unsigned char* data, size_t size) override {
        const size_t taken = std::min(size, capacity_ - bytes.size());
        bytes.insert(bytes.end(), data, data + taken);
        return taken;
    }

    Bytes bytes;

  private:
    size_t capacity_;
};

bool Decode(const Bytes& stream, BufferWriter& writer) {
    MemoryReader reader(stream.data(), stream.size());
    return DecodeStream(reader, writer);
}

class LzmaStream : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(sample_.empty());
        ASSERT_GT(known_.size(), kLzmaHeaderBytes);
        ASSERT_GT(marked_.size(), kLzmaHeaderBytes);
    }

    const Bytes sample_ = TestData("sample.bin");
    const Bytes known_ = TestData("sample.lzma");
    const Bytes marked_ = TestData("sample-eos.lzma");
};

TEST_F(LzmaStream, DecodesTheContainerInBothForms) {
    BufferWriter knownOutput;
    EXPECT_TRUE(Decode(known_, knownOutput));
    EXPECT_EQ(sample_, knownOutput.bytes);

    BufferWriter markedOutput;
    EXPECT_TRUE(Decode(marked_, markedOutput));
    EXPECT_EQ(sample_, markedOutput.bytes);
}

TEST_F(LzmaStream, ReadsTheUnpackedSizeLittleEndian) {
    unsigned char header[kLzmaHeaderBytes] = {0x5D, 0, 0, 0, 1, 0x00, 0x3E, 0x6A, 0, 0, 0, 0, 0};
    EXPECT_EQ(6962688u, UnpackedSizeOf(header));
    std::copy(known_.begin(), known_.begin() + kLzmaHeaderBytes, header);
    EXPECT_EQ(sample_.size(), UnpackedSizeOf(header));
    std::copy(marked_.begin(), marked_.begin() + kLzmaHeaderBytes, header);
    EXPECT_EQ(kUnknownUnpackedSize, UnpackedSizeOf(header));
}

TEST_F(LzmaStream, DictionaryIsCappedAtAKnownUnpackedSize) {
    const auto propertiesOf = [](uint32_t dictionary, uint64_t size) {
        unsigned char header[kLzmaHeaderBytes] = {0x5D};
        for (size_t i = 0; i < 4; ++i) {
            header[1 + i] = static_cast<unsigned char>(dictionary >> (8 * i));
        }
        for (size_t i = 0; i < 8; ++i) {
            header[5 + i] = static_cast<unsigned char>(size >> (8 * i));
        }
        unsigned char properties[kLzmaPropertyBytes];
        DecoderPropertiesOf(header, properties);
        return Bytes(properties, properties + kLzmaPropertyBytes);
    };
    EXPECT_EQ(Bytes({0x5D, 0x40, 0xCD, 0x00, 0x00}), propertiesOf(1u << 24, 52544));
    EXPECT_EQ(Bytes({0x5D, 0x00, 0x00, 0x00, 0x01}), propertiesOf(1u << 24, 1u << 24));
    EXPECT_EQ(Bytes({0x5D, 0x00, 0x00, 0x00, 0x01}), propertiesOf(1u << 24, 6962688ull << 8));
    EXPECT_EQ(Bytes({0x5D, 0x00, 0x00, 0x00, 0x01}), propertiesOf(1u << 24, kUnknownUnpackedSize));
}

TEST_F(LzmaStream, UnknownSizeWithoutEndMarkerFails) {
    BufferWriter output;
    EXPECT_FALSE(Decode(WithUnpackedSize(known_, kUnknownUnpackedSize), output));
}

TEST_F(LzmaStream, KnownSizeFollowedByEndMarkerDecodes) {
    BufferWriter output;
    EXPECT_TRUE(Decode(WithUnpackedSize(marked_, sample_.size()), output));
    EXPECT_EQ(sample_, output.bytes);
}

TEST_F(LzmaStream, EndMarkerBeforeTheKnownSizeFails) {
    BufferWriter output;
    EXPECT_FALSE(Decode(WithUnpackedSize(marked_, sample_.size() + 1), output));
}

TEST_F(LzmaStream, KnownSizeLargerThanTheDataFails) {
    for (unsigned long long extra : {1ULL, 65536ULL, 1ULL << 40}) {
        BufferWriter output;
        EXPECT_FALSE(Decode(WithUnpackedSize(known_, sample_.size() + extra), output)) << extra;
        EXPECT_LE(output.bytes.size(), sample_.size() + extra);
    }
}

TEST_F(LzmaStream, TruncatedDataFails) {
    for (size_t length : {kLzmaHeaderBytes, kLzmaHeaderBytes + 1, size_t{100}, known_.size() / 2,
                          known_.size() - 1}) {
        BufferWriter output;
        EXPECT_FALSE(Decode(Bytes(known_.begin(), known_.begin() + length), output)) << length;
    }
    BufferWriter output;
    EXPECT_FALSE(Decode(Bytes(marked_.begin(), marked_.end() - 1), output));
}

TEST_F(LzmaStream, InputShorterThanTheHeaderFails) {
    for (size_t length = 0; length < kLzmaHeaderBytes; ++length) {
        BufferWriter output;
        EXPECT_FALSE(Decode(Bytes(known_.begin(), known_.begin() + length), output)) << length;
        EXPECT_TRUE(output.bytes.empty());
    }
}

TEST_F(LzmaStream, PropertiesByte225AndAboveAreRejected) {
    for (int properties : {225, 226, 255}) {
        Bytes stream = known_;
        stream[0] = static_cast<unsigned char>(properties);
        BufferWriter output;
        EXPECT_FALSE(Decode(stream, output)) << properties;
        EXPECT_TRUE(output.bytes.empty());
    }
}

TEST_F(LzmaStream, UnallocatableDictionaryFailsCleanly) {
    if (sizeof(void*) != 4) {
        GTEST_SKIP() << "a 64-bit process may well get a 4 GiB dictionary";
    }
    // With an unknown size the dictionary is the header's: 4 GiB here.
    Bytes stream = marked_;
    std::fill(stream.begin() + 1, stream.begin() + 5, 0xFF);
    BufferWriter output;
    EXPECT_FALSE(Decode(stream, output));
    EXPECT_TRUE(output.bytes.empty());
}

TEST_F(LzmaStream, ZeroKnownSizeSucceedsWithoutOutput) {
    BufferWriter output;
    EXPECT_TRUE(Decode(WithUnpackedSize(Bytes(known_.begin(), known_.begin() + 13), 0), output));
    EXPECT_TRUE(output.bytes.empty());
}

TEST_F(LzmaStream, ReaderHandingOutSingleBytesIsEnough) {
    ChunkedReader reader(known_, 1);
    BufferWriter output;
    EXPECT_TRUE(DecodeStream(reader, output));
    EXPECT_EQ(sample_, output.bytes);
}

TEST_F(LzmaStream, FailedReadFails) {
    for (size_t failAfter : {size_t{0}, size_t{5}, kLzmaHeaderBytes, known_.size() / 2}) {
        ChunkedReader reader(known_, 4096, failAfter);
        BufferWriter output;
        EXPECT_FALSE(DecodeStream(reader, output)) << failAfter;
    }
}

TEST_F(LzmaStream, WriterTakingFewerBytesFails) {
    for (size_t capacity : {size_t{0}, size_t{1000}, kStreamBufferBytes, sample_.size() - 1}) {
        BufferWriter output(capacity);
        EXPECT_FALSE(Decode(known_, output)) << capacity;
    }
}

}  // namespace
