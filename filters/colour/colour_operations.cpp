#include "core/image_processor.h"
#include "core/operation_table.h"

void AddColourOperations(std::vector<COperation>& table)
{
    table.push_back({.name = "Invert",
                     .summary = "every channel byte v becomes 255 - v",
                     .params = {},
                     .call = [](CImageProcessor& e, const COpArgs&) { e.Invert(); return true; },
                     .inPlaceOnly = true});
}
