#include "core/image_processor.h"
#include "core/operation_table.h"

void AddGeometryOperations(std::vector<COperation>& /*table*/)
{
}
