// Starting the install worker on a thread of its own.
#pragma once

using ThreadEntry = unsigned(__stdcall*)(void*);

// Starts `entry` at once through the C runtime and lets the thread go. When no
// thread can be started, logs why and returns false, so the wizard does not
// wait on the progress page for a result that never comes.
bool StartInstallThread(ThreadEntry entry);
