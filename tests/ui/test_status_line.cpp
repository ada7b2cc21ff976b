// The status line on the screen (the offscreen platform's backing store) after a change of its
// text, against a fresh paint of the new text.
#include <gtest/gtest.h>

#include "paint_watch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "resources/palette.h"
#include "ui/main_dlg.h"
#include "ui/status_line.h"
#include "widgets/text_advances.h"

namespace {

QImage OnScreen(CStatusLine& line) {
    return line.screen()->grabWindow(line.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

// A second of a run changes a digit or two of the time left: those are painted again, and the
// line then shows exactly what painting it whole would, also when the number gets shorter
// and the text moves.
TEST(StatusLine, ATimeLeftRepaintsOnlyItsOwnPartAndShowsWhatAWholePaintWould) {
    const QString where = QStringLiteral("/dev/pts/7 \u00b7 KW41-VTX-SIM (type 1)");
    const QString journal = QStringLiteral(
        " left \u00b7 Journal: /home/lab/.local/share/velmora/runs/"
        "run-2026-12-08T09-41-16.123.tsv");
    const std::vector<std::pair<QString, QString>> changes = {
        {QStringLiteral("Running, 3599"), QStringLiteral("Running, 3598")},
        {QStringLiteral("Running, 1000"), QStringLiteral("Running, 999")},
        {QStringLiteral("Running, 10"), QStringLiteral("Running, 9")},
    };
    for (const auto& [before, after] : changes) {
        CStatusLine line;
        line.setGeometry(0, 0, 1031, CStatusLine::kHeight);
        line.SetTexts(where, before + journal);
        PaintWatch watch;
        line.installEventFilter(&watch);
        line.show();
        ASSERT_TRUE(AwaitPaint([&] { return watch.paints > 0; }));

        watch.painted = QRegion();
        const int paints = watch.paints;
        line.SetTexts(where, after + journal);
        ASSERT_TRUE(AwaitPaint([&] { return watch.paints > paints; }));
        EXPECT_LT(watch.painted.boundingRect().width(), line.width() / 8) << after.toStdString();
        const QImage whole = line.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(OnScreen(line) == whole) << "stale pixels after " << after.toStdString();
    }
}

// Drawn a part at a time, and each glyph where the measured advances and pairs put it, the
// right part lands where the font puts the whole text, pairs that kern included.
TEST(StatusLine, PartsAreDrawnWhereTheWholeTextWouldBe) {
    for (const QString& right :
         {QStringLiteral("Running, 11:17 left \u00b7 Journal: /home/lab/runs/run-2026-12-08.tsv"),
          QStringLiteral("Wave AVAWAY To Ty, 10:41 left \u00b7 Journal: /LT/Vo.tsv")}) {
        CStatusLine line;
        line.setGeometry(0, 0, 1031, CStatusLine::kHeight);
        line.SetTexts(QString(), right);
        const QImage parts = line.grab().toImage().convertToFormat(QImage::Format_RGB32);

        QImage whole(line.size(), QImage::Format_RGB32);
        QPainter painter(&whole);
        painter.setFont(line.font());
        painter.fillRect(whole.rect(), Palette::kBackground.darker(130));
        painter.setPen(Palette::kLightText.darker(115));
        painter.drawLine(0, 0, line.width(), 0);
        painter.setPen(Palette::kLightText);
        const QFontMetrics metrics(line.font());
        const auto layout = CStatusLine::LayOut(
            metrics, line.rect(), QString(), right,
            [&](const QString& text) { return metrics.horizontalAdvance(text); });
        painter.drawText(layout.rightBox, Qt::AlignRight | Qt::AlignVCenter, right);
        painter.end();
        EXPECT_TRUE(parts == whole) << right.toStdString();
    }
}

// What the status line measures a text as is what the font measures it as, whether its parts
// were measured before or not: parts are added before rounding.
TEST(StatusLine, AdvancesAreTheFontsOwnFromRememberedParts) {
    const QFont font = CStatusLine().font();
    const QFontMetrics metrics(font);
    CTextAdvances advances(CStatusLine::kSeparator);
    const QString journal = QStringLiteral(" \u00b7 Journal: /home/lab/runs/run-2026-12-08.tsv");
    for (const char* time : {"59:12", "11:11", "10:01", "41:47", "00:00", "1:11", "111:11"}) {
        for (const QString& text : {QStringLiteral("Running, %1 left").arg(time),
                                    QStringLiteral("Running, %1 left").arg(time) + journal}) {
            EXPECT_EQ(advances.Advance(font, text), metrics.horizontalAdvance(text))
                << text.toStdString();
        }
    }
    // Pairs that kern and letters that could join, in texts measured a piece at a time.
    for (const char* text :
         {"AVAWAY To Ty, office fifty", "Stopping\u2026", "Wave 7/11 \u00b7 LT"}) {
        EXPECT_EQ(advances.Advance(font, QString::fromUtf8(text)),
                  metrics.horizontalAdvance(QString::fromUtf8(text)))
            << text;
    }
    // Another font: nothing measured in the first is taken for it.
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(font.pixelSize() * 3);
    const QString text = QStringLiteral("Running, 11:17 left") + journal;
    EXPECT_EQ(advances.Advance(bold, text), QFontMetrics(bold).horizontalAdvance(text));
}

// A part is cut only when the two don't fit, and then the longer one: a short state never cuts
// a port's path that has room.
TEST(StatusLine, SharesTheWidthByNeed) {
    EXPECT_EQ(CStatusLine::ShareWidth(100, 200, 400).left, 100);
    EXPECT_EQ(CStatusLine::ShareWidth(500, 100, 400).left, 300);
    EXPECT_EQ(CStatusLine::ShareWidth(100, 500, 400).right, 300);
    const CStatusLine::Widths both = CStatusLine::ShareWidth(500, 500, 400);
    EXPECT_EQ(both.left + both.right, 400);
    EXPECT_EQ(both.left, 200);
}

TEST(SaveName, IsTheRunsStartToTheMinute) {
    EXPECT_EQ(SuggestedSaveName(QDateTime(QDate(2026, 12, 9), QTime(10, 41, 59))),
              "run-2026-12-09-1041.xls");
}
