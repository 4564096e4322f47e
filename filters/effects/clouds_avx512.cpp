#include "filters/effects/clouds_kernel.h"

orvex_clouds::CCloudKernel orvex_clouds::CloudKernelAvx512()
{
    return kCloudKernel;
}
