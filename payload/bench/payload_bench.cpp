// Times the payload decoder and the whole extraction inside the process, and
// reports the extraction's peak memory. Driven by scripts/benchmark.sh:
//   payload_bench prepare PACKED_DIR IMAGE   copy of this program carrying the
//                                            packed modules of PACKED_DIR (each
//                                            <file name>.lzma, digests in SHA256SUMS)
//   payload_bench time IMAGE ROUNDS          pure decode and whole extraction
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

// sha256sum lines: 64 hex digits, two separators, the file name.
bool ParseDigests(const std::wstring& folder, ModuleDigests& digests) {
    const Bytes text = ReadWholeFile(folder + L"\\SHA256SUMS");
    const std::string lines(text.begin(), text.end());
    for (size_t row = 0; row < kModuleCount; ++row) {
        char name[64];
        std::snprintf(name, sizeof(name), "%ls\n", kModuleTable[row].fileName);
        const size_t at = lines.find(name);
        if (at == std::string::npos || at < 66) {
            std::fprintf(stderr, "no digest for %ls\n", kModuleTable[row].fileName);
            return false;
        }
        for (size_t i = 0; i < kDigestBytes; ++i) {
            unsigned value = 0;
            std::sscanf(lines.c_str() + at - 66 + 2 * i, "%2x", &value);
            digests.rows[row][i] = static_cast<unsigned char>(value);
        }
    }
    return true;
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
    ModuleDigests digests;
    if (!ParseDigests(folder, digests)) {
        return 1;
    }
    std::vector<ResourceItem> resources;
    for (size_t row = 0; row < kModuleCount; ++row) {
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

// Decodes every module from the mapped resource to a counting writer.
bool DecodeAll(HMODULE image, unsigned long long& packedBytes, unsigned long long& unpackedBytes,
               double& milliseconds) {
    packedBytes = unpackedBytes = 0;
    milliseconds = 0;
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        HRSRC resource = FindResourceW(image, row->resourceName, L"MODULE");
        HGLOBAL loaded = resource != nullptr ? LoadResource(image, resource) : nullptr;
        const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (bytes == nullptr) {
            return false;
        }
        const DWORD size = SizeofResource(image, resource);
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
    std::vector<double> extractTimes;
    unsigned long long packedBytes = 0;
    unsigned long long unpackedBytes = 0;
    // One untimed round of each first, so that both start with warm caches.
    for (int round = -1; round < rounds; ++round) {
        double decodeMs = 0;
        double extractMs = 0;
        if (!DecodeAll(image.get(), packedBytes, unpackedBytes, decodeMs) ||
            !ExtractOnce(image.get(), extractMs)) {
            std::fprintf(stderr, "round %d failed\n", round);
            return 1;
        }
        if (round >= 0) {
            decodeTimes.push_back(decodeMs);
            extractTimes.push_back(extractMs);
        }
    }
    std::printf("packed_bytes %llu\nunpacked_bytes %llu\n", packedBytes, unpackedBytes);
    std::printf("decode_ms_min %.2f\ndecode_ms_median %.2f\n",
                *std::min_element(decodeTimes.begin(), decodeTimes.end()), Median(decodeTimes));
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
