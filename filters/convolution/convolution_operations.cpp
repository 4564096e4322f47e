#include "core/image_processor.h"
#include "core/operation_table.h"

void AddConvolutionOperations(std::vector<COperation>& /*table*/)
{
}
