#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>

#include "widgets/device_text.h"
#include "widgets/text_stamps.h"

namespace {

// Crisp labels, as the graph draws them.
QFont LabelFont() {
    QFont font("Liberation Sans");
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

}  // namespace

TEST(TextStamps, LeaveExactlyThePixelsDrawTextWould) {
    // Labels as a graph draws them, at odd offsets, clipped to their box or running past
    // it; the second round draws from the stamps made in the first, the third in another
    // colour, the fourth in another font, the fifth on a screen of twice the density (laid out
    // at the device's size).
    CTextStamps stamps;
    QFont font = LabelFont();
    for (int round = 0; round < 5; ++round) {
        if (round == 3)
            font.setPixelSize(15);
        const QColor color = round == 2 ? QColor(200, 30, 30) : QColor(234, 234, 234);
        QImage expected(300, 120, QImage::Format_RGB32), stamped = expected;
        if (round == 4) {
            expected = QImage(600, 240, QImage::Format_RGB32);
            expected.setDevicePixelRatio(2.0);
            stamped = expected;
        }
        expected.fill(QColor(73, 86, 119));
        stamped.fill(QColor(73, 86, 119));
        QPainter direct(&expected), viaStamps(&stamped);
        for (QPainter* painter : {&direct, &viaStamps}) {
            painter->setFont(font);
            painter->setPen(color);
        }
        const struct {
            QRect box;
            int flags;
            QString text;
        } labels[] = {
            {QRect(3, 5, 40, 15), Qt::AlignRight | Qt::AlignVCenter, "307.5"},
            {QRect(51, 7, 13, 15), Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip, "1092:15"},
            {QRect(120, 33, 20, 9), Qt::AlignCenter, "Speed(1/min)"},
            {QRect(-6, 60, 70, 15), Qt::AlignLeft | Qt::AlignBottom, "-0.25"},
            {QRect(150, 90, 120, 15), Qt::AlignCenter, ""},
        };
        for (const auto& label : labels) {
            if (round == 4)
                DrawDeviceText(direct, label.box, label.flags, label.text);
            else
                direct.drawText(label.box, label.flags, label.text);
            stamps.Draw(viaStamps, label.box, label.flags, label.text);
        }
        direct.end();
        viaStamps.end();
        EXPECT_EQ(stamped, expected) << "round " << round;
        // Labels an axis shows as its range grows, measured a character at a time.
        for (const char* label : {"307.5", "-0.25", "1e+06", "1092:15", "11", "7.1", "-1", "47"})
            EXPECT_EQ(stamps.Advance(font, label), QFontMetrics(font).horizontalAdvance(label))
                << label;
    }
}

TEST(TextStamps, ATurnedTitleLeavesThePixelsOfTheTurnedText) {
    // An axis title as the graph draws it, at two places and two heights; the second round
    // from the stamps of the first.
    CTextStamps stamps;
    const QFont font = LabelFont();
    for (int round = 0; round < 2; ++round) {
        QImage expected(200, 400, QImage::Format_RGB32);
        expected.fill(QColor(73, 86, 119));
        QImage stamped = expected;
        QPainter direct(&expected), viaStamps(&stamped);
        for (QPainter* painter : {&direct, &viaStamps}) {
            painter->setFont(font);
            painter->setPen(QColor(234, 234, 234));
        }
        for (const auto& [origin, height] :
             {std::pair{QPoint(5, 150), 250}, {QPoint(90, 211), 61}}) {
            const QRect box(-height / 2, 0, height, 15);
            direct.save();
            direct.translate(origin);
            direct.rotate(-90);
            direct.drawText(box, Qt::AlignCenter, "Speed(1/min)");
            direct.restore();
            stamps.DrawTurnedLeft(viaStamps, origin, box, Qt::AlignCenter, "Speed(1/min)");
        }
        direct.end();
        viaStamps.end();
        EXPECT_EQ(stamped, expected) << "round " << round;
    }
}
