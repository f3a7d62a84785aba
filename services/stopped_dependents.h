// Other programs' services that an upgrade stops because they depend on a
// product service, listed in memory and in the registry until they run
// again: a setup ended half way (killed, the power lost) leaves them for the
// next run to start.
#pragma once

#include <cstddef>

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
