#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "widgets/device_text.h"
#include "widgets/text_stamps.h"

namespace {

QFont CrispFont(int pixels) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixels);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QImage Blank(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

}  // namespace

// At a scale of 1.5 a title is laid out as a 1× screen would lay out the bigger font, whether
// drawn directly or stamped, and wherever the painter was moved to.
TEST(DeviceText, ScaledTextIsLaidOutAtTheDevicesSize) {
    const QString title = QStringLiteral("Time(S) Sample 6");
    QImage expected = Blank(QSize(300, 60));
    {
        QPainter painter(&expected);
        painter.setFont(CrispFont(18));
        painter.setPen(Qt::white);
        painter.drawText(QRect(15 + 15, 12 + 6, 240, 30), Qt::AlignCenter, title);
    }
    for (const bool stamped : {false, true}) {
        QImage scaled = Blank(QSize(300, 60));
        scaled.setDevicePixelRatio(1.5);
        CTextStamps stamps;
        QPainter painter(&scaled);
        painter.setFont(CrispFont(12));
        painter.setPen(Qt::white);
        painter.translate(10, 8);
        const QRect box(10, 4, 160, 20);
        if (stamped) {
            stamps.Draw(painter, box, Qt::AlignCenter, title);
        } else {
            DrawDeviceText(painter, box, Qt::AlignCenter, title);
        }
        painter.end();
        scaled.setDevicePixelRatio(1.0);
        EXPECT_EQ(scaled, expected) << (stamped ? "stamped" : "drawn");
    }
}
