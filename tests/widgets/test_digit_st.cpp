#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPaintEvent>

#include "resources/glyph_geometry.h"
#include "widgets/digit_cells.h"
#include "widgets/digit_st.h"

using namespace GlyphGeometry;

TEST(DigitCells, RightAlignsKeepsEveryCharacterAndBlanksUnknownOnes) {
    using V = std::vector<int>;
    EXPECT_EQ(DigitCells::Layout("12:34", 5, false), (V{1, 2, kGlyphColon, 3, 4}));
    EXPECT_EQ(DigitCells::Layout("-3.5", 5, false),
              (V{kGlyphBlank, kGlyphMinus, 3, kGlyphPoint, 5}));
    EXPECT_EQ(DigitCells::Layout("123456", 5, false), (V{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(DigitCells::Layout("01 59", 5, false), (V{0, 1, kGlyphBlank, 5, 9}));
    EXPECT_EQ(DigitCells::Layout("A1x", 3, false), (V{kGlyphBlank, 1, kGlyphBlank}));
    EXPECT_TRUE(DigitCells::Layout("1", 0, false).empty());
}

TEST(DigitCells, ZeroPaddingLightsOnlyLeadingBlanksAsUnlitDigits) {
    using V = std::vector<int>;
    const int unlit = DigitCells::kUnlitDigit;
    EXPECT_EQ(DigitCells::Layout("  500", 5, true), (V{unlit, unlit, 5, 0, 0}));
    EXPECT_EQ(DigitCells::Layout("500", 5, true), (V{unlit, unlit, 5, 0, 0}));
    // A blank inside the text (the blinking colon) stays blank.
    EXPECT_EQ(DigitCells::Layout("01 59", 5, true), (V{0, 1, kGlyphBlank, 5, 9}));
    EXPECT_EQ(DigitCells::Layout("", 2, true), (V{unlit, unlit}));
}

namespace {

// Pixel brightness classes of the glyph strip after drawing.
bool IsLit(QRgb pixel) {
    return qGray(pixel) < 90;
}
bool IsUnlit(QRgb pixel) {
    return qGray(pixel) >= 205 && qGray(pixel) <= 229;
}
bool IsGround(QRgb pixel) {
    return qGray(pixel) >= 230;
}

QRgb SegmentPixel(const CDigitST& readout, const QImage& image, int cell, int segment) {
    const QRectF box = readout.CellRect(cell);
    const QPointF centre = SegmentCentre(segment);
    const QPointF at(box.left() + centre.x() * box.width() / kCellWidth,
                     box.top() + centre.y() * box.height() / kCellHeight);
    return image.pixel(at.toPoint());
}

// A readout whose cells are exactly the strip's cells, so every glyph pixel lands
// where the strip has it.
void MakeFiveCellReadout(CDigitST& readout) {
    readout.resize(5 * kCellWidth + 6, kCellHeight + 6);
    ASSERT_EQ(readout.SetStyle(103, 5), 1);
}

}  // namespace

TEST(DigitSt, ShowsTheSegmentsOfEachDigit) {
    CDigitST readout;
    MakeFiveCellReadout(readout);
    readout.SetValue("12:34", 1);
    const QImage image = readout.grab().toImage();

    const int digits[5] = {1, 2, -1, 3, 4};
    for (int cell = 0; cell < 5; ++cell) {
        if (digits[cell] < 0)
            continue;
        const std::uint8_t lit = LitSegments(digits[cell]);
        for (int segment = 0; segment < kSegmentCount; ++segment) {
            const QRgb pixel = SegmentPixel(readout, image, cell, segment);
            if ((lit >> segment) & 1u)
                EXPECT_TRUE(IsLit(pixel)) << "cell " << cell << " segment " << segment;
            else
                EXPECT_TRUE(IsUnlit(pixel)) << "cell " << cell << " segment " << segment;
        }
    }
    // The colon's two dots are lit.
    const QRectF colon = readout.CellRect(2);
    for (const QPointF& dot : ColonCentres())
        EXPECT_TRUE(IsLit(image.pixel((colon.topLeft() + dot).toPoint())));
}

TEST(DigitSt, PaddingLongTextsAndScaledCells) {
    CDigitST readout;
    MakeFiveCellReadout(readout);
    readout.SetValue("  500", 1);

    // Without zero padding the leading cells are bare ground; with it, unlit digits.
    QImage image = readout.grab().toImage();
    for (int segment = 0; segment < kSegmentCount; ++segment)
        EXPECT_TRUE(IsGround(SegmentPixel(readout, image, 0, segment)));
    readout.SetZeroPadding(1, 1);
    image = readout.grab().toImage();
    for (int cell = 0; cell < 2; ++cell) {
        for (int segment = 0; segment < kSegmentCount; ++segment)
            EXPECT_TRUE(IsUnlit(SegmentPixel(readout, image, cell, segment)));
    }
    EXPECT_TRUE(IsLit(SegmentPixel(readout, image, 2, 0)));  // the 5's top

    // An unknown character draws as an empty cell.
    readout.SetValue("1?345", 1);
    image = readout.grab().toImage();
    for (int segment = 0; segment < kSegmentCount; ++segment)
        EXPECT_TRUE(IsGround(SegmentPixel(readout, image, 1, segment)));

    // Scaled down to the main window's size the glyphs still read correctly.
    readout.resize(285, 102);
    readout.SetValue("88888", 1);
    image = readout.grab().toImage();
    for (int cell = 0; cell < 5; ++cell) {
        for (int segment = 0; segment < kSegmentCount; ++segment)
            EXPECT_TRUE(IsLit(SegmentPixel(readout, image, cell, segment)));
    }
}

namespace {

// The digit each of `count` equal parts of the readout's glyph area shows, read at the
// segment centres: 0 … 9, or -1 for anything else.
std::vector<int> DigitsShown(const CDigitST& readout, const QImage& image, int count) {
    const QRect area = readout.rect().adjusted(3, 3, -3, -3);
    std::vector<int> digits;
    for (int cell = 0; cell < count; ++cell) {
        const double left = area.left() + double(area.width()) * cell / count;
        const double width = double(area.width()) / count;
        std::uint8_t lit = 0;
        for (int segment = 0; segment < kSegmentCount; ++segment) {
            const QPointF centre = SegmentCentre(segment);
            const QPointF at(left + centre.x() * width / kCellWidth,
                             area.top() + centre.y() * area.height() / kCellHeight);
            lit |= std::uint8_t(IsLit(image.pixel(at.toPoint())) ? 1u << segment : 0u);
        }
        int digit = -1;
        for (int d = 0; d <= 9; ++d)
            digit = LitSegments(d) == lit ? d : digit;
        digits.push_back(digit);
    }
    return digits;
}

}  // namespace

TEST(DigitSt, ALongerTextIsShownWholeInNarrowerCells) {
    CDigitST readout;
    readout.resize(285, 102);  // the main window's readout
    ASSERT_EQ(readout.SetStyle(103, 5), 1);
    readout.SetZeroPadding(1, 1);
    using V = std::vector<int>;
    readout.SetValue("59:59", 1);
    EXPECT_EQ(DigitsShown(readout, readout.grab().toImage(), 5), (V{5, 9, -1, 5, 9}));
    // 100 minutes and the largest time the instrument can hold.
    readout.SetValue("100:00", 1);
    EXPECT_EQ(DigitsShown(readout, readout.grab().toImage(), 6), (V{1, 0, 0, -1, 0, 0}));
    readout.SetValue("1092:15", 1);
    EXPECT_EQ(DigitsShown(readout, readout.grab().toImage(), 7), (V{1, 0, 9, 2, -1, 1, 5}));
}

TEST(DigitSt, AnUpdateRepaintsOnlyTheCellsThatChanged) {
    // What the window asks to repaint when one digit changes: that digit's cell.
    struct Recorder : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } recorder;
    CDigitST readout;
    readout.resize(285, 102);
    ASSERT_EQ(readout.SetStyle(103, 5), 1);
    readout.SetValue("01:11", 1);
    readout.show();
    QCoreApplication::processEvents();
    readout.installEventFilter(&recorder);
    readout.SetValue("01:13", 1);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.painted, QRegion(readout.CellRect(4).toRect()));
    EXPECT_EQ(DigitsShown(readout, readout.grab().toImage(), 5),
              (std::vector<int>{0, 1, -1, 1, 3}));
}

TEST(DigitSt, AMissingGlyphStripIsRefused) {
    CDigitST readout;
    EXPECT_EQ(readout.SetStyle(9999, 5), 0);
    EXPECT_EQ(readout.GetPrecision(), 0);
    EXPECT_EQ(readout.SetStyle(103, 0), 0);
    EXPECT_EQ(readout.SetStyle(103, 5), 1);
    EXPECT_EQ(readout.GetPrecision(), 5);
    // Painting without a strip must not fail either.
    CDigitST bare;
    bare.resize(50, 20);
    bare.SetValue("12", 1);
    EXPECT_FALSE(bare.grab().isNull());
}
