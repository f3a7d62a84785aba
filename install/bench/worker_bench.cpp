// Times the install worker's steps on a clean prefix, without the fixed wait
// before the result message. Driven by the benchmark command:
//   worker_bench STAGING_DIR [ROUNDS]   STAGING_DIR holds the ten payload files
//                                       (a Unix path is read through drive Z:)
// Each round starts from a clean prefix. Results are "key value" lines on
// standard output: the minimum and median milliseconds of each step.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "install/worker.h"
#include "platform/text_format.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

// The worker's steps, in the order of its table.
const char* const kStepNames[] = {"removal",  "folders",   "copy",
                                  "services", "shortcuts", "registry"};
constexpr size_t kStepCount = sizeof(kStepNames) / sizeof(kStepNames[0]);
static_assert(kStepCount == kInstallStepCount, "one name for each step of the worker");

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return path;
}

// One installation, step by step as the worker runs them; false at the first
// step that fails (its log lines are printed by the caller).
bool TimeOneRun(double (&times)[kStepCount], unsigned& copiedBytes) {
    InstallRun run = {};
    for (size_t step = 0; step < kStepCount; ++step) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        const bool succeeded = kInstallSteps[step](run);
        QueryPerformanceCounter(&end);
        times[step] = Milliseconds(start, end);
        if (!succeeded) {
            return false;
        }
    }
    copiedBytes = run.copiedBytes;
    return true;
}

void PrintMinMedian(const char* key, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    std::printf("%s_min %.1f\n%s_median %.1f\n", key, values.front(), key, median);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: worker_bench STAGING_DIR [ROUNDS]\n");
        return 2;
    }
    const std::wstring staging = WindowsPath(argv[1]);
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
    if (!FormatText(g_stagingFolderPath, L"%s", staging.c_str())) {
        std::fprintf(stderr, "staging folder path too long\n");
        return 2;
    }

    std::vector<double> samples[kStepCount];
    std::vector<double> totals;
    unsigned copiedBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        ResetProductState();
        double times[kStepCount];
        if (!TimeOneRun(times, copiedBytes)) {
            std::fprintf(stderr, "installation failed:\n%ls", ReadLogText());
            ResetProductState();
            return 1;
        }
        double total = 0;
        for (size_t step = 0; step < kStepCount; ++step) {
            samples[step].push_back(times[step]);
            total += times[step];
        }
        totals.push_back(total);
    }
    ResetProductState();

    std::printf("worker_rounds %d\n", rounds);
    std::printf("worker_copied_bytes %u\n", copiedBytes);
    for (size_t step = 0; step < kStepCount; ++step) {
        char key[32];
        std::snprintf(key, sizeof(key), "worker_%s_ms", kStepNames[step]);
        PrintMinMedian(key, samples[step]);
    }
    PrintMinMedian("worker_sequence_ms", totals);
    return 0;
}
