#include <gtest/gtest.h>

#include <QImage>

#include "resources/glyph_geometry.h"
#include "resources/palette.h"
#include "resources/string_table.h"

TEST(StringTable, HoldsTheProgramsTextsAndNothingElse) {
    EXPECT_EQ(LoadStringResource(101), "&About Velmora...");
    EXPECT_EQ(LoadStringResource(103),
              "Failed to connect the instrument,please restart the software");
    EXPECT_EQ(LoadStringResource(IDS_APP_TITLE), "Velmora");
    EXPECT_EQ(LoadStringResource(107), "Time(S)");
    EXPECT_EQ(LoadStringResource(108), "Speed(1/min)");
    EXPECT_EQ(LoadStringResource(110), "Failed to save the file");
    EXPECT_EQ(LoadStringResource(111), "The instrument did not confirm the stop");
    EXPECT_EQ(LoadStringResource(112),
              "The instrument refused the speed and runs at its own setpoint");
    EXPECT_EQ(LoadStringResource(113), "The instrument did not acknowledge the start");
    for (int id : {0, 100, 115, -1})
        EXPECT_TRUE(LoadStringResource(id).isEmpty()) << id;
}

TEST(Pictures, BackgroundHasItsFieldAndRoundedTab) {
    const QImage background(":/images/bitmap_101.png");
    ASSERT_EQ(background.size(), QSize(984, 580));
    const QColor field = Palette::kBackground, tab = Palette::kTab;
    EXPECT_EQ(background, QImage(":/images/bitmap_102.png"));
    // The picture for a screen scaled by 2 is the same one at twice the pixels.
    const QImage doubled(":/images/bitmap_101@2x.png");
    ASSERT_EQ(doubled.size(), background.size() * 2);
    EXPECT_EQ(doubled, QImage(":/images/bitmap_102@2x.png"));
    EXPECT_EQ(QColor(doubled.pixel(2 * 657 + 1, 2 * 12 + 1)), tab);
    EXPECT_EQ(QColor(doubled.pixel(2 * 950 + 1, 2 * 13)), field);
    EXPECT_EQ(QColor(background.pixel(10, 300)), field);
    EXPECT_EQ(QColor(background.pixel(656, 50)), field);
    EXPECT_EQ(QColor(background.pixel(700, 95)), field);
    EXPECT_EQ(QColor(background.pixel(657, 12)), tab);  // square left end
    EXPECT_EQ(QColor(background.pixel(657, 94)), tab);
    EXPECT_EQ(QColor(background.pixel(948, 53)), tab);  // round right end
    EXPECT_EQ(QColor(background.pixel(950, 13)), field);
    int title = 0;
    for (int y = 12; y <= 94; ++y) {
        for (int x = 657; x <= 951; ++x) {
            const QColor c(background.pixel(x, y));
            title += c.blue() > 180 && c.red() < 120;
        }
    }
    EXPECT_GT(title, 500);
}

TEST(Pictures, GlyphStripAndIcons) {
    using namespace GlyphGeometry;
    const QImage strip(":/images/bitmap_103.png");
    ASSERT_EQ(strip.size(), QSize(882, 112));
    for (int glyph = 0; glyph < kCellCount; ++glyph) {
        if (!HasSegments(glyph) && glyph != kGlyphBlank)
            continue;  // the point and colon are dots, checked below
        for (int segment = 0; segment < kSegmentCount; ++segment) {
            const QPoint at = (SegmentCentre(segment) + QPointF(glyph * kCellWidth, 0)).toPoint();
            QColor expected = Palette::kGlyphGround;
            if (HasSegments(glyph))
                expected = (LitSegments(glyph) >> segment) & 1u ? Palette::kGlyphLit
                                                                : Palette::kGlyphUnlit;
            EXPECT_EQ(QColor(strip.pixel(at)), expected) << glyph << "/" << segment;
        }
    }
    EXPECT_EQ(QColor(strip.pixel(kGlyphPoint * kCellWidth + int(PointCentre().x()),
                                 int(PointCentre().y()))),
              Palette::kGlyphLit);
    for (const QPointF& dot : ColonCentres())
        EXPECT_EQ(QColor(strip.pixel((dot + QPointF(kGlyphColon * kCellWidth, 0)).toPoint())),
                  Palette::kGlyphLit);
    EXPECT_EQ(QImage(":/images/icon_128.png").size(), QSize(32, 32));
    EXPECT_EQ(QImage(":/images/icon_128_256.png").size(), QSize(256, 256));
}
