#pragma once

#include <QPointF>
#include <QPolygonF>
#include <array>
#include <cstdint>

// Layout of the seven-segment glyph strip (bitmap 103): one row of cells, each
// holding one slanted glyph. Shared by the picture generator, which draws the
// strip, and by whoever needs to know where a segment lies in a cell.
namespace GlyphGeometry {

constexpr int kCellWidth = 63;
constexpr int kCellHeight = 112;
constexpr int kCellCount = 14;

// Cell indices in the strip.
enum Glyph : int {
    kGlyphDigit0 = 0,  // digits 0 … 9 in cells 0 … 9
    kGlyphPoint = 10,
    kGlyphMinus = 11,
    kGlyphBlank = 12,
    kGlyphColon = 13,
};

// Segments a … g in the usual order: top, upper right, lower right, bottom,
// lower left, upper left, middle.
constexpr int kSegmentCount = 7;

// Bit s set = segment s lit. Only digits and the minus sign are drawn as
// segments; the other glyphs have none.
std::uint8_t LitSegments(int glyph);
bool HasSegments(int glyph);

// The outline of segment s, in cell pixels, slant applied.
QPolygonF SegmentOutline(int segment);
// A point well inside segment s, in cell pixels.
QPointF SegmentCentre(int segment);

constexpr double kDotRadius = 5.5;
QPointF PointCentre();
std::array<QPointF, 2> ColonCentres();

}  // namespace GlyphGeometry
