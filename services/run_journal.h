// What an upgrade must finish even when it dies half way (killed, the power
// lost), kept in the product's machine settings key for the next run: other
// programs' services it stopped because they depend on a product service,
// listed until they run again, and the private folder where the earlier
// service executables wait, until it is gone.
#pragma once

#include <cstddef>

#include "platform/link_guard.h"
#include "platform/text_format.h"

constexpr size_t kDependentCapacity = 16;

struct DependentList {
    wchar_t names[kDependentCapacity][kNameChars];
    size_t count;
};

// Adds a name not listed yet (in any case); false when it does not fit.
bool AddDependent(DependentList* list, const wchar_t* name);

// The list as the product's machine settings key keeps it; an empty list
// deletes the value. A journal that cannot be written leaves the list in
// memory to this run alone.
void WriteDependentJournal(const DependentList& list);

// Adds the names an earlier run left in the journal.
void ReadDependentJournal(DependentList* list);

// Lists the folder, before it is made, without an identity; an empty path
// deletes both values.
void WriteAsideFolderJournal(const wchar_t* folder);

// Records the identity of the listed folder, once it is made.
void WriteAsideFolderIdentity(const FileIdentity& identity);

// The folder an earlier run left listed; false when there is none.
// *identified tells whether its identity was recorded, in *identity.
bool ReadAsideFolderJournal(wchar_t (&folder)[kPathChars], FileIdentity* identity,
                            bool* identified);
