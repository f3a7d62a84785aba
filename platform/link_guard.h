// Deleting with administrator rights where a standard user may have put a link
// (a junction, symbolic link or mount point): nothing is removed through a
// link, and never a link's target.
#pragma once

#include <windows.h>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

// "\\?\" (or "\\?\UNC\") and a path with every link resolved; resolving may
// make it longer than the path that was opened.
constexpr size_t kFinalPathChars = 2 * kPathChars;

// A folder held open, with its path as named and as the system resolved it.
// The final path is empty where the system cannot tell (before Windows Vista);
// then nothing is compared against it.
struct HeldFolder {
    wchar_t path[kPathChars];
    wchar_t finalPath[kFinalPathChars];
    ScopedFileHandle handle;
};

// Where a file lies: its volume and its index there, the same for every name
// of it.
struct FileIdentity {
    DWORD volumeSerialNumber;
    DWORD indexHigh;
    DWORD indexLow;
};

bool IdentityOf(HANDLE file, FileIdentity* identity);

bool IsSameIdentity(const FileIdentity& first, const FileIdentity& second);

// Opens the folder at path itself, never a link there nor one it leads
// through, when it is the folder identity names; held against renaming and
// deletion by others, and open for its own deletion. Without an identity,
// when the system resolves it to path itself. False, with the last error set
// (ERROR_CANT_ACCESS_FILE for another folder), when it is not.
bool OpenIdentifiedFolder(const wchar_t* path, const FileIdentity* identity, HeldFolder* folder);

// Opens the folder at path following links, as a special folder may be moved
// on purpose, and shares it fully. False when it cannot be opened or resolved.
bool OpenFolderFollowingLinks(const wchar_t* path, HeldFolder* folder);

// Opens the folder name inside parent without following a link, and holds it
// against renaming and deletion by others while the handle lives. False when
// it is not a folder, is a link or mount point, or resolves elsewhere than
// parent's final path and name (Wine follows a link even when told not to).
bool OpenSubfolderUnfollowed(const HeldFolder& parent, const wchar_t* name, HeldFolder* folder);

// Opens the file name inside folder for deletion without following a link,
// sharing it fully, so that a running program's image opens too. While the
// handle lives nobody can newly open the file without delete sharing. A
// folder, or a file that resolves elsewhere, is refused (ERROR_CANT_ACCESS_FILE).
bool OpenFileForDeletion(const HeldFolder& folder, const wchar_t* name, ScopedFileHandle* file);

// As OpenFileForDeletion, for reading its bytes.
bool OpenFileForReading(const HeldFolder& folder, const wchar_t* name, ScopedFileHandle* file);

// Deletes the file opened by OpenFileForDeletion when its handle is closed:
// with POSIX semantics where the system offers them, else clearing a
// read-only flag first, except on a file with more than one link, which
// keeps its attributes and stays. False with the last error set.
bool DeleteOpenedFile(HANDLE file);

// Renames the opened file (DELETE access) to name inside the folder held by
// folder, never replacing a file there: named by the handle, not by a path
// that another program could redirect. Same volume only. False with the last
// error set.
bool MoveOpenedFileInto(HANDLE file, HANDLE folder, const wchar_t* name);

// Gives the opened file a second name inside the held folder, never replacing
// a file there; the data stays one, whichever name later goes. Same volume
// only, and only where the file system has hard links. False with the last
// error set.
bool LinkOpenedFileInto(HANDLE file, HANDLE folder, const wchar_t* name);

// OpenFileForDeletion and DeleteOpenedFile at once.
bool DeleteFileUnfollowed(const HeldFolder& folder, const wchar_t* name);

// Deletes the folder name inside parent when it is empty, through a handle
// that does not follow a link; what OpenSubfolderUnfollowed refuses is left.
// False with the last error set (ERROR_DIR_NOT_EMPTY while anything is in it).
bool DeleteSubfolderUnfollowed(const HeldFolder& parent, const wchar_t* name);

// Where the system offers it (Windows 11), the process no longer follows
// junctions that a user without administrator rights made.
void EnforceRedirectionTrust();
