#include "resources/glyph_geometry.h"

namespace GlyphGeometry {

namespace {

// Upright design coordinates (u to the right, v downwards); the slant then
// moves every point right by kSlant for each pixel it lies above the baseline.
constexpr double kLeft = 10.0;
constexpr double kRight = 46.0;
constexpr double kTop = 10.0;
constexpr double kBottom = 102.0;
constexpr double kThickness = 8.0;
constexpr double kGap = 1.5;
constexpr double kSlant = 0.1;

constexpr double kHalf = kThickness / 2.0;
constexpr double kLeftAxis = kLeft + kHalf;
constexpr double kRightAxis = kRight - kHalf;
constexpr double kTopAxis = kTop + kHalf;
constexpr double kMiddleAxis = (kTop + kBottom) / 2.0;
constexpr double kBottomAxis = kBottom - kHalf;

QPointF Slanted(double u, double v) {
    return QPointF(u + kSlant * (kBottom - v), v);
}

QPolygonF Horizontal(double v) {
    const double u0 = kLeftAxis + kGap, u1 = kRightAxis - kGap;
    return QPolygonF({Slanted(u0, v), Slanted(u0 + kHalf, v - kHalf),
                      Slanted(u1 - kHalf, v - kHalf), Slanted(u1, v),
                      Slanted(u1 - kHalf, v + kHalf), Slanted(u0 + kHalf, v + kHalf)});
}

QPolygonF Vertical(double u, double v0, double v1) {
    v0 += kGap;
    v1 -= kGap;
    return QPolygonF({Slanted(u, v0), Slanted(u + kHalf, v0 + kHalf),
                      Slanted(u + kHalf, v1 - kHalf), Slanted(u, v1),
                      Slanted(u - kHalf, v1 - kHalf), Slanted(u - kHalf, v0 + kHalf)});
}

}  // namespace

std::uint8_t LitSegments(int glyph) {
    //                                        gfedcba
    static constexpr std::uint8_t kDigits[10] = {0b0111111, 0b0000110, 0b1011011, 0b1001111,
                                                 0b1100110, 0b1101101, 0b1111101, 0b0000111,
                                                 0b1111111, 0b1101111};
    if (glyph >= 0 && glyph <= 9)
        return kDigits[glyph];
    if (glyph == kGlyphMinus)
        return 0b1000000;
    return 0;
}

bool HasSegments(int glyph) {
    return (glyph >= 0 && glyph <= 9) || glyph == kGlyphMinus;
}

QPolygonF SegmentOutline(int segment) {
    switch (segment) {
        case 0:
            return Horizontal(kTopAxis);
        case 1:
            return Vertical(kRightAxis, kTopAxis, kMiddleAxis);
        case 2:
            return Vertical(kRightAxis, kMiddleAxis, kBottomAxis);
        case 3:
            return Horizontal(kBottomAxis);
        case 4:
            return Vertical(kLeftAxis, kMiddleAxis, kBottomAxis);
        case 5:
            return Vertical(kLeftAxis, kTopAxis, kMiddleAxis);
        default:
            return Horizontal(kMiddleAxis);
    }
}

QPointF SegmentCentre(int segment) {
    switch (segment) {
        case 0:
            return Slanted((kLeft + kRight) / 2.0, kTopAxis);
        case 1:
            return Slanted(kRightAxis, (kTopAxis + kMiddleAxis) / 2.0);
        case 2:
            return Slanted(kRightAxis, (kMiddleAxis + kBottomAxis) / 2.0);
        case 3:
            return Slanted((kLeft + kRight) / 2.0, kBottomAxis);
        case 4:
            return Slanted(kLeftAxis, (kMiddleAxis + kBottomAxis) / 2.0);
        case 5:
            return Slanted(kLeftAxis, (kTopAxis + kMiddleAxis) / 2.0);
        default:
            return Slanted((kLeft + kRight) / 2.0, kMiddleAxis);
    }
}

QPointF PointCentre() {
    return Slanted((kLeft + kRight) / 2.0 + 2.0, kBottomAxis);
}

std::array<QPointF, 2> ColonCentres() {
    const double u = (kLeft + kRight) / 2.0;
    return {Slanted(u, (kTopAxis + kMiddleAxis) / 2.0 + 4.0),
            Slanted(u, (kMiddleAxis + kBottomAxis) / 2.0 - 4.0)};
}

}  // namespace GlyphGeometry
