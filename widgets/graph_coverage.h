#pragma once

#include <QLineF>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "widgets/graph_axes.h"
#include "widgets/graph_decimation.h"

// How much of each pixel an anti-aliased pen covers along a curve. Pure arithmetic.
namespace GraphMath {

// Samples per pixel, on an 8 x 8 grid.
constexpr int kCoverageSamples = 64;

// The pen's coverage of the pixels in `bounds`, row by row: for each, how many of its
// kCoverageSamples samples lie within the pen's reach (0 … kCoverageSamples).
struct Coverage {
    QRect bounds;
    std::vector<std::uint8_t> level;
    // Of each row of `bounds`, the pixels first … last (counted from its left) that may be
    // covered; elsewhere the level is 0. (first > last: none.)
    struct Span {
        int first, last;
    };
    std::vector<Span> rows;
    // Which samples of each pixel are covered, one bit each; kept (all zero) between calls.
    std::vector<std::uint64_t> samples;
};

// The coverage, inside `clip`, of a pen of `width` with round caps and joins along a
// decimated curve's strokes (through pixel centres): a sample counts when it lies within width / 2
// of any of the lines, so overlapping pieces count once and any set of lines that covers the same
// points gives the same coverage, bit for bit. (Samples sit an odd number of sixteenths of a pixel
// from any pixel centre, so none lies exactly on a round end.)
void StrokeCoverage(const CurveStrokes& strokes, int width, const QRect& clip, Coverage& out);
// The same along a polyline.
void StrokeCoverage(const Vertex* points, std::size_t count, int width, const QRect& clip,
                    Coverage& out);

}  // namespace GraphMath
