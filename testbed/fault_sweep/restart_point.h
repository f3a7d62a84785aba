// A restart point of the fault sweep (restart:N): what fault_point keeps
// before the upgrade and checks after scripts/faultsweep.sh has cut the power
// and restarted the machine, before any setup runs.
#pragma once

#include <string>

// Before the upgrade: the tray program registered to run at logon, as on a
// machine where it starts with the user's session, from the folder the
// second service runs from; and the executable each product service runs
// from, with a digest of its bytes, kept in the file at recordPath.
void PrepareRestart(const std::wstring& recordPath);

// After the setup died: the product services marked for deletion then (a
// handle still open), which Windows deletes as it boots and Wine keeps, and
// those already gone, kept in the file at markedPath.
void RecordServicesMarkedForDeletion(const std::wstring& markedPath);

// After the restart: deletes the marked services, as Windows's boot would
// have; the names of all, each followed by a line feed.
std::wstring DeleteServicesMarkedBeforeRestart(const std::wstring& markedPath);

// The files the fault injector listed as unflushed when it killed the setup.
int UnflushedFileCount(const std::wstring& listPath);

// After the restart: ends the tray program that the logon started (the next
// setup refuses while it runs) and removes its Run value; true when it ran.
bool EndTrayStartedAtLogon();

// Empty when the service runs from a whole executable: in the product folder
// and byte for byte the payload's file, or where it ran from before the
// upgrade and as it was then (recordPath). Else what it runs from instead.
std::wstring NotRunningWhole(const wchar_t* service, const std::wstring& recordPath);
