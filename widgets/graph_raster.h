#pragma once

#include <QLineF>
#include <QRect>
#include <cstddef>
#include <vector>

#include "widgets/graph_axes.h"

// The pixels a stroke covers, as rectangles and as row runs for the painter. Pure arithmetic.
namespace GraphMath {

// The pixels a pen of `width` with round caps and joins covers along a polyline through
// pixel centres, as rectangles (overlapping where the line does): every pixel whose
// centre lies within width / 2 of the line, which makes the picture the union of its
// segments' and thus the same for any run of points with the same stretches in each
// column. With an odd width no pixel centre lies exactly that far away.
void StrokePixels(const Vertex* points, std::size_t count, int width, std::vector<QRect>& out);
// The same for separate lines (the union of their pixels), added to `out`.
void StrokeLinePixels(const std::vector<QLineF>& lines, int width, std::vector<QRect>& out);

// The pixels of `rects` inside `clip`, as runs one row high that neither overlap nor touch,
// row by row from the top and left to right within a row. A stroke's pieces overlap
// heavily; filled as runs, each pixel is written once and far fewer rectangles reach the
// painter. `out` may not be `rects`.
void RowRuns(const std::vector<QRect>& rects, const QRect& clip, std::vector<QRect>& out);

}  // namespace GraphMath
