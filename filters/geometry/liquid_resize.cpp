#include "core/image_processor.h"

// Seam carving is not built yet: the picture stays as it is.
void CImageProcessor::LiquidResize(int /*newWidth*/, int /*newHeight*/)
{
}
