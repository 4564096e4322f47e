#include "filters/effects/clouds_kernel.h"

orvex_clouds::CCloudTileFn orvex_clouds::CloudTileAvx2()
{
    return &CloudTile;
}
