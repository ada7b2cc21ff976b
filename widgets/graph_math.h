#pragma once

// The trend graph's drawing arithmetic, free of any painting so it can be checked on its own:
// axes, decimation, rasterising and anti-aliased coverage, each in a file of its own.
#include "widgets/graph_axes.h"
#include "widgets/graph_coverage.h"
#include "widgets/graph_decimation.h"
#include "widgets/graph_raster.h"
