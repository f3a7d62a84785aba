// Times the payload decoder and the whole extraction inside the process, and
// reports the extraction's peak memory. Driven by scripts/benchmark.sh:
//   payload_bench prepare PACKED_DIR IMAGE   copy of this program carrying the
//                                            packed modules of PACKED_DIR (each
//                                            <file name>.lzma) and their digests
//   payload_bench time IMAGE ROUNDS          pure decode, hashing of the packed
//                                            modules and whole extraction
//   payload_bench memory IMAGE               one extraction, peak memory
// Results are "key value" lines on standard output.
#include <windows.h>

#include <process.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "payload/extract.h"
#include "payload/memory_stream.h"
#include "payload/module_digest.h"
#include "payload/module_table.h"
#include "payload/testing/resource_image.h"
#include "setup/resource_ids.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadWholeFile(const std::wstring& path) {
    Bytes bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) {
        return bytes;
    }
    unsigned char buffer[65536];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    fclose(file);
    return bytes;
}

int Prepare(const std::wstring& folder, const std::wstring& image) {
    std::vector<Bytes> packed;
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        packed.push_back(ReadWholeFile(folder + L"\\" + row->fileName + L".lzma"));
        if (packed.back().empty()) {
            std::fprintf(stderr, "missing %ls.lzma\n", row->fileName);
            return 1;
        }
    }
    const ScopedCryptProvider provider = AcquireDigestProvider();
    ModuleDigests digests;
    std::vector<ResourceItem> resources;
    for (size_t row = 0; row < kModuleCount; ++row) {
        if (!provider ||
            !DigestOfBytes(provider.get(), packed[row].data(),
                           static_cast<DWORD>(packed[row].size()), digests.rows[row])) {
            std::fprintf(stderr, "cannot hash %ls.lzma\n", kModuleTable[row].fileName);
            return 1;
        }
        resources.push_back({L"MODULE", kModuleTable[row].resourceName, packed[row].data(),
                             static_cast<DWORD>(packed[row].size())});
    }
    resources.push_back({RT_RCDATA, MAKEINTRESOURCEW(IDR_MODULE_DIGESTS), digests.rows,
                         static_cast<DWORD>(sizeof(digests.rows))});
    if (!LoadCopyWithResources(image.c_str(), resources.data(), resources.size())) {
        std::fprintf(stderr, "cannot write %ls\n", image.c_str());
        return 1;
    }
    return 0;
}

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// The mapped bytes of row's "MODULE" resource in image; null when missing.
const void* PackedModule(HMODULE image, const PayloadModule& row, DWORD& size) {
    HRSRC resource = FindResourceW(image, row.resourceName, L"MODULE");
    HGLOBAL loaded = resource != nullptr ? LoadResource(image, resource) : nullptr;
    size = resource != nullptr ? SizeofResource(image, resource) : 0;
    return loaded != nullptr ? LockResource(loaded) : nullptr;
}

// Decodes every module from the mapped resource to a counting writer.
bool DecodeAll(HMODULE image, unsigned long long& packedBytes, unsigned long long& unpackedBytes,
               double& milliseconds) {
    packedBytes = unpackedBytes = 0;
    milliseconds = 0;
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        DWORD size = 0;
        const void* bytes = PackedModule(image, *row, size);
        if (bytes == nullptr) {
            return false;
        }
        MemoryReader reader(static_cast<const unsigned char*>(bytes), size);
        CountingWriter writer;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        const bool decoded = DecodeStream(reader, writer);
        QueryPerformanceCounter(&end);
        if (!decoded) {
            return false;
        }
        milliseconds += Milliseconds(start, end);
        packedBytes += size;
        unpackedBytes += writer.total();
    }
    return true;
}

// Hashes every module as the extraction checks it, with a provider of its own.
bool HashAll(HMODULE image, double& milliseconds) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const ScopedCryptProvider provider = AcquireDigestProvider();
    bool hashed = provider.valid();
    for (const PayloadModule* row = kModuleTable; hashed && row->fileName != nullptr; ++row) {
        DWORD size = 0;
        const void* bytes = PackedModule(image, *row, size);
        unsigned char digest[kDigestBytes];
        hashed = bytes != nullptr && DigestOfBytes(provider.get(), bytes, size, digest);
    }
    QueryPerformanceCounter(&end);
    milliseconds = Milliseconds(start, end);
    return hashed;
}

bool ExtractOnce(HMODULE image, double& milliseconds) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const bool extracted = ExtractPayloadFrom(image);
    QueryPerformanceCounter(&end);
    RemoveStagingFolder();
    milliseconds = Milliseconds(start, end);
    return extracted;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

ScopedModule LoadImage(const std::wstring& image) {
    ScopedModule module(LoadLibraryExW(image.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        std::fprintf(stderr, "cannot load %ls\n", image.c_str());
    }
    return module;
}

int Time(const std::wstring& imagePath, int rounds) {
    ScopedModule image = LoadImage(imagePath);
    if (!image || rounds < 1) {
        return 1;
    }
    std::vector<double> decodeTimes;
    std::vector<double> hashTimes;
    std::vector<double> extractTimes;
    unsigned long long packedBytes = 0;
    unsigned long long unpackedBytes = 0;
    // One untimed round of each first, so that both start with warm caches.
    for (int round = -1; round < rounds; ++round) {
        double decodeMs = 0;
        double hashMs = 0;
        double extractMs = 0;
        if (!DecodeAll(image.get(), packedBytes, unpackedBytes, decodeMs) ||
            !HashAll(image.get(), hashMs) || !ExtractOnce(image.get(), extractMs)) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        if (round >= 0) {
            decodeTimes.push_back(decodeMs);
            hashTimes.push_back(hashMs);
            extractTimes.push_back(extractMs);
        }
    }
    std::printf("packed_bytes %llu\nunpacked_bytes %llu\n", packedBytes, unpackedBytes);
    std::printf("decode_ms_min %.2f\ndecode_ms_median %.2f\n",
                *std::min_element(decodeTimes.begin(), decodeTimes.end()), Median(decodeTimes));
    std::printf("hash_ms_min %.2f\nhash_ms_median %.2f\n",
                *std::min_element(hashTimes.begin(), hashTimes.end()), Median(hashTimes));
    std::printf("extract_ms_min %.2f\nextract_ms_median %.2f\n",
                *std::min_element(extractTimes.begin(), extractTimes.end()), Median(extractTimes));
    return 0;
}

// Committed private memory of the process: the Windows meaning of private
// bytes, summed from the address space because Wine's process counters report
// resident memory instead.
size_t PrivateCommit() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address) {
            break;
        }
    }
    return total;
}

// Samples the private commit every millisecond while an extraction runs.
struct CommitSampler {
    volatile LONG running = 1;
    size_t peak = 0;

    static unsigned __stdcall Run(void* sampler) {
        CommitSampler& self = *static_cast<CommitSampler*>(sampler);
        while (InterlockedCompareExchange(&self.running, 1, 1) == 1) {
            self.peak = std::max(self.peak, PrivateCommit());
            Sleep(1);
        }
        return 0;
    }
};

size_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

int Memory(const std::wstring& imagePath) {
    ScopedModule image = LoadImage(imagePath);
    if (!image) {
        return 1;
    }
    // The sampler runs before the baseline is taken, so its own stack is not
    // counted as the extraction's.
    CommitSampler sampler;
    ScopedKernelHandle thread(
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 64 * 1024, CommitSampler::Run, &sampler,
                                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)));
    Sleep(20);
    const size_t before = PrivateCommit();
    std::printf("private_commit_before_kib %u\n", static_cast<unsigned>(before / 1024));
    std::printf("peak_working_set_before_kib %u\n", static_cast<unsigned>(PeakWorkingSet() / 1024));
    double milliseconds = 0;
    const bool extracted = ExtractOnce(image.get(), milliseconds);
    InterlockedExchange(&sampler.running, 0);
    WaitForSingleObject(thread.get(), INFINITE);
    if (!extracted) {
        std::fprintf(stderr, "extraction failed\n");
        return 1;
    }
    std::printf("private_commit_peak_kib %u\n",
                static_cast<unsigned>(std::max(sampler.peak, before) / 1024));
    std::printf("peak_working_set_after_kib %u\n", static_cast<unsigned>(PeakWorkingSet() / 1024));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"prepare" && argc == 4) {
        return Prepare(argv[2], argv[3]);
    }
    if (command == L"time" && argc == 4) {
        return Time(argv[2], _wtoi(argv[3]));
    }
    if (command == L"memory" && argc == 3) {
        return Memory(argv[2]);
    }
    std::fprintf(stderr,
                 "usage: payload_bench prepare PACKED_DIR IMAGE | time IMAGE ROUNDS | "
                 "memory IMAGE\n");
    return 2;
}
