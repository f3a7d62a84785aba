// Writes the fuzzer's seed corpus from the sample streams: each seed is a
// stream or a damaged variant of one that the decoder must handle.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

bool ReadFile(const std::string& path, Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    unsigned char buffer[4096];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    std::fclose(file);
    return true;
}

bool WriteSeed(const std::string& folder, const char* name, const Bytes& bytes) {
    FILE* file = std::fopen((folder + "/" + name).c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

void SetUnpackedSize(Bytes& stream, unsigned long long size) {
    for (int i = 0; i < 8; ++i) {
        stream[5 + i] = static_cast<unsigned char>(size >> (8 * i));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seed_corpus TEST_DATA_DIR SEED_DIR\n");
        return 2;
    }
    const std::string data = argv[1];
    const std::string seeds = argv[2];
    Bytes known;
    Bytes marked;
    if (!ReadFile(data + "/small.lzma", known) || !ReadFile(data + "/small-eos.lzma", marked) ||
        known.size() < 40 || marked.size() < 40) {
        std::fprintf(stderr, "make_seed_corpus: sample streams missing in %s\n", argv[1]);
        return 1;
    }

    const auto head = [&known](size_t length) {
        return Bytes(known.begin(), known.begin() + static_cast<std::ptrdiff_t>(length));
    };
    Bytes truncated = head(known.size() / 2);
    Bytes headerOnly = head(13);
    Bytes shortHeader = head(7);
    Bytes props225 = known;
    props225[0] = 225;
    Bytes props255 = known;
    props255[0] = 255;
    Bytes unknownWithoutMarker = known;
    SetUnpackedSize(unknownWithoutMarker, ~0ULL);
    Bytes knownBeyondData = known;
    SetUnpackedSize(knownBeyondData, 3000 + 4096);
    Bytes knownWithMarker = marked;
    SetUnpackedSize(knownWithMarker, 3000);
    Bytes markerTruncated(marked.begin(), marked.end() - 3);

    const bool written =
        WriteSeed(seeds, "known-size", known) && WriteSeed(seeds, "end-marker", marked) &&
        WriteSeed(seeds, "truncated", truncated) && WriteSeed(seeds, "header-only", headerOnly) &&
        WriteSeed(seeds, "short-header", shortHeader) && WriteSeed(seeds, "props-225", props225) &&
        WriteSeed(seeds, "props-255", props255) &&
        WriteSeed(seeds, "unknown-without-marker", unknownWithoutMarker) &&
        WriteSeed(seeds, "known-beyond-data", knownBeyondData) &&
        WriteSeed(seeds, "known-with-marker", knownWithMarker) &&
        WriteSeed(seeds, "marker-truncated", markerTruncated);
    if (!written) {
        std::fprintf(stderr, "make_seed_corpus: cannot write seeds to %s\n", argv[2]);
        return 1;
    }
    return 0;
}
