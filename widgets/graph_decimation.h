#pragma once

#include <QLineF>
#include <cstddef>
#include <vector>

#include "widgets/graph_axes.h"

// Reducing a curve of many points to the few that draw the same picture. Pure arithmetic.
namespace GraphMath {

// Points in the order they were added, held in consecutive spans.
struct PointSpan {
    const double* x;
    const double* y;
    std::size_t count;
};

// Columns this far outside the plot can't reach it with any pen the graph draws.
constexpr int kOutsideColumns = 16;

// Reduces a series to the vertices that draw the same picture as all its points
// through PixelCentre, with a pen of round caps and joins: every run of consecutive
// points in one pixel column becomes its first, lowest, highest and last point in
// their original order (the column's vertical stretch and the lines into and out of
// it are then those of the full curve). Runs more than kOutsideColumns left or right
// of columnLeft … columnRight keep only their first and last point, where the line
// leaves and re-enters. Points whose x never decreases (`xNeverDecreases`) take a
// faster path with the same result.
void DecimateToColumns(const PointSpan* spans, std::size_t spanCount, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases = false);
// The same for points held in one span.
void DecimateToColumns(const double* x, const double* y, std::size_t count, const AxisMapping& xMap,
                       const AxisMapping& yMap, int columnLeft, int columnRight,
                       std::vector<Vertex>& out, bool xNeverDecreases = false);

// The decimated curve as separate strokes that draw its picture: the lines between
// neighbouring columns, and each column's vertical stretch from its highest to its
// lowest vertex (none where a column holds a single vertex: the caps of the lines
// through it cover it).
struct CurveStrokes {
    std::vector<QLineF> between;
    std::vector<QLineF> within;
};
void SplitCurve(const std::vector<Vertex>& curve, CurveStrokes& out);

}  // namespace GraphMath
