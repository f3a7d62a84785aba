// Feeds the LZMA SDK decoder from a reader through two fixed buffers.
#include "payload/lzma_stream.h"

#include <cstdlib>
#include <memory>

#include "LzmaDec.h"

namespace {

void* AllocateBlock(void*, size_t size) {
    return std::malloc(size);
}

void FreeBlock(void*, void* address) {
    std::free(address);
}

ISzAlloc g_decoderAllocator = {AllocateBlock, FreeBlock};

// The buffers come from the same heap as the decoder's state: the global
// operator new would bring the C++ library's exception classes into the exe.
struct BlockDeleter {
    void operator()(void* address) const { std::free(address); }
};

// Owns the decoder's state and dictionary for one decode.
class DecoderState {
  public:
    DecoderState() { LzmaDec_Construct(&decoder_); }
    ~DecoderState() { LzmaDec_Free(&decoder_, &g_decoderAllocator); }
    DecoderState(const DecoderState&) = delete;
    DecoderState& operator=(const DecoderState&) = delete;

    // The SDK checks the properties before it allocates anything, so a
    // properties byte of 225 or more costs no dictionary.
    bool Allocate(const unsigned char (&properties)[kLzmaPropertyBytes]) {
        return LzmaDec_Allocate(&decoder_, properties, kLzmaPropertyBytes, &g_decoderAllocator) ==
               SZ_OK;
    }
    CLzmaDec* get() { return &decoder_; }

  private:
    CLzmaDec decoder_ = {};
};

struct StreamBuffers {
    unsigned char input[kStreamBufferBytes];
    unsigned char output[kStreamBufferBytes];
};

bool ReadHeader(ByteReader& reader, unsigned char (&header)[kLzmaHeaderBytes]) {
    size_t filled = 0;
    while (filled < kLzmaHeaderBytes) {
        size_t bytesRead = 0;
        if (!reader.Read(header + filled, kLzmaHeaderBytes - filled, bytesRead) || bytesRead == 0) {
            return false;
        }
        filled += bytesRead;
    }
    return true;
}

}  // namespace

uint64_t UnpackedSizeOf(const unsigned char (&header)[kLzmaHeaderBytes]) {
    uint64_t size = 0;
    for (size_t i = kLzmaHeaderBytes; i > kLzmaPropertyBytes; --i) {
        size = (size << 8) | header[i - 1];
    }
    return size;
}

// The decoder's properties, with the dictionary no larger than a known
// unpacked size: no match can reach further back than the output so far, and
// the output never exceeds the known size, so a larger dictionary would only
// hold memory (16 MiB for every payload module, most of them far smaller).
void DecoderPropertiesOf(const unsigned char (&header)[kLzmaHeaderBytes],
                         unsigned char (&properties)[kLzmaPropertyBytes]) {
    properties[0] = header[0];
    uint32_t dictionarySize = 0;
    for (size_t i = kLzmaPropertyBytes; i > 1; --i) {
        dictionarySize = (dictionarySize << 8) | header[i - 1];
    }
    const uint64_t unpackedSize = UnpackedSizeOf(header);
    if (unpackedSize < dictionarySize) {
        dictionarySize = static_cast<uint32_t>(unpackedSize);
    }
    for (size_t i = 1; i < kLzmaPropertyBytes; ++i) {
        properties[i] = static_cast<unsigned char>(dictionarySize >> (8 * (i - 1)));
    }
}

bool DecodeStream(ByteReader& reader, ByteWriter& writer) {
    unsigned char header[kLzmaHeaderBytes];
    if (!ReadHeader(reader, header)) {
        return false;
    }
    const uint64_t unpackedSize = UnpackedSizeOf(header);
    const bool sizeKnown = unpackedSize != kUnknownUnpackedSize;
    uint64_t remaining = unpackedSize;

    unsigned char properties[kLzmaPropertyBytes];
    DecoderPropertiesOf(header, properties);
    DecoderState decoder;
    if (!decoder.Allocate(properties)) {
        return false;
    }
    LzmaDec_Init(decoder.get());
    std::unique_ptr<StreamBuffers, BlockDeleter> buffers(
        static_cast<StreamBuffers*>(std::malloc(sizeof(StreamBuffers))));
    if (!buffers) {
        return false;
    }

    size_t inputPos = 0;
    size_t inputSize = 0;
    for (;;) {
        if (sizeKnown && remaining == 0) {
            return true;
        }
        if (inputPos == inputSize) {
            inputPos = 0;
            if (!reader.Read(buffers->input, kStreamBufferBytes, inputSize)) {
                return false;
            }
        }
        // The last pass of a known size asks the decoder to finish exactly there.
        size_t outputSize = kStreamBufferBytes;
        ELzmaFinishMode finishMode = LZMA_FINISH_ANY;
        if (sizeKnown && remaining < kStreamBufferBytes) {
            outputSize = static_cast<size_t>(remaining);
            finishMode = LZMA_FINISH_END;
        }
        size_t inputUsed = inputSize - inputPos;
        ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
        const SRes result =
            LzmaDec_DecodeToBuf(decoder.get(), buffers->output, &outputSize,
                                buffers->input + inputPos, &inputUsed, finishMode, &status);
        inputPos += inputUsed;
        if (outputSize > 0 && writer.Write(buffers->output, outputSize) != outputSize) {
            return false;
        }
        if (sizeKnown) {
            remaining -= outputSize;
        }
        if (result != SZ_OK) {
            return false;
        }
        if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
            // An end marker before the known size means the data is short.
            return !sizeKnown || remaining == 0;
        }
        if (inputUsed == 0 && outputSize == 0) {
            return false;
        }
    }
}
