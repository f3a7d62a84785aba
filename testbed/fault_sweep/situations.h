// What an administrator may have made of a whole running installation before
// an upgrade, one row each in testbed/fault_sweep/situations.cpp: the fault sweep makes one
// before each point, the field scenarios before an upgrade.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The situations' names, "product-folder" (nothing changed) first.
std::vector<std::wstring> SituationNames();

// Makes the situation from a whole running installation, after removing what
// any situation added before; false when it could not be made as described.
bool MakeSituation(const std::wstring& name);

// The situation's own services of another program that do not run, joined by
// "+": empty when all run (or it has none).
std::wstring StoppedSituationServices(const std::wstring& name);

// Removes what any situation added: the services of another program and the
// other folder.
void RemoveSituationAdditions();

// The services of another program that "dependent" runs from
// testbed/service_host.exe: one in a process of its own, two sharing one.
struct OtherService {
    const wchar_t* name;
    DWORD type;
    bool dependsOnTheFirst;
};
constexpr OtherService kOtherServices[] = {
    {L"Portvane_TestDependent", SERVICE_WIN32_OWN_PROCESS, true},
    {L"Portvane_TestSharedDependent", SERVICE_WIN32_SHARE_PROCESS, true},
    {L"Portvane_TestSharedNeighbour", SERVICE_WIN32_SHARE_PROCESS, false},
};
