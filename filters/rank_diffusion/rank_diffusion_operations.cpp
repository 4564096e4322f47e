#include "core/image_processor.h"
#include "core/operation_table.h"

void AddRankDiffusionOperations(std::vector<COperation>& /*table*/)
{
}
