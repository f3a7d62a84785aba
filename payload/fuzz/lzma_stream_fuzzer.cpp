// libFuzzer entry: any bytes as a packed stream must decode or fail cleanly,
// never crash, hang or touch memory out of bounds.
#include <cstddef>
#include <cstdint>

#include "payload/memory_stream.h"

namespace {

// Headers asking for dictionaries of gigabytes are legal and only cost an
// allocation (its failure is a unit test's subject); mapping them under
// AddressSanitizer takes half a second each and would starve the search.
constexpr uint32_t kLargestFuzzedDictionary = 64u << 20;

bool DictionaryTooLarge(const uint8_t* data, size_t size) {
    if (size < kLzmaHeaderBytes) {
        return false;
    }
    unsigned char header[kLzmaHeaderBytes];
    for (size_t i = 0; i < kLzmaHeaderBytes; ++i) {
        header[i] = data[i];
    }
    unsigned char properties[kLzmaPropertyBytes];
    DecoderPropertiesOf(header, properties);
    const uint32_t dictionary = properties[1] | (properties[2] << 8) | (properties[3] << 16) |
                                (static_cast<uint32_t>(properties[4]) << 24);
    return dictionary > kLargestFuzzedDictionary;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (DictionaryTooLarge(data, size)) {
        return 0;
    }
    MemoryReader reader(data, size);
    CountingWriter writer;
    DecodeStream(reader, writer);
    return 0;
}
