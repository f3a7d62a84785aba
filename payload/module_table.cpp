#include "payload/module_table.h"

// The build packs the files under these resource names in this order and
// lists their digests in the same order; keep payload/packing.cmake in step.
const PayloadModule kModuleTable[kModuleCount + 1] = {
    {L"Portvane.exe", L"Portvane_exe"},
    {L"Portvane_PService.exe", L"Portvane_PService_exe"},
    {L"Portvane_DService.exe", L"Portvane_DService_exe"},
    {L"Portvane_Tray.exe", L"Portvane_Tray_exe"},
    {L"dm.exe", L"dm_exe"},
    {L"DiskInfo.dll", L"DiskInfo_dll"},
    {L"SQLite.Interop.dll", L"SQLite_Interop_dll"},
    {L"Readme.rtf", L"Readme_rtf"},
    {L"License.rtf", L"License_rtf"},
    {L"Uninst.exe", L"Uninst_exe"},
    {nullptr, nullptr},
};
