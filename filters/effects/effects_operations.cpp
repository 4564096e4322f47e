#include "core/image_processor.h"
#include "core/operation_table.h"

void AddEffectsOperations(std::vector<COperation>& /*table*/)
{
}
