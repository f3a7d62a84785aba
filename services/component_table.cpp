#include "services/component_table.h"

#include "platform/system_info.h"

const ComponentRow kComponentTable[kComponentCount] = {
    {kComponentService, 0, 0, L"Portvane_PService.exe", L"Portvane_PService"},
    {kComponentService, 0, 0, L"Portvane_DService.exe", L"Portvane_DService"},
};

bool ComponentApplies(const ComponentRow& row) {
    return ProcessorMatch(row.processorCondition);
}
