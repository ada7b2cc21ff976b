#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>

#include "widgets/lum_static.h"
#include "widgets/vex_button.h"

namespace {

const QColor kFace(73, 86, 119);
const QColor kCaption(234, 234, 234);

int CountPixels(const QImage& image, const QColor& color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += QColor(image.pixel(x, y)) == color;
    }
    return count;
}

void StyleLikeTheMainWindow(CVexButton& button) {
    button.resize(90, 36);
    button.SetButtonSemiflat(1);
    button.m_crBackground = kFace;
    button.SetTextColor(kCaption, QColor(), QColor());
    button.m_crText = kCaption;
    button.SetFontSize(-16, 700);
}

}  // namespace

TEST(VexButton, FaceAndCaptionInTheirColoursWithAVisibleStateForEachMode) {
    CVexButton button("Start");
    StyleLikeTheMainWindow(button);
    // Windows font heights: negative is the character's pixel size, positive the
    // whole cell with its leading.
    EXPECT_EQ(button.font().pixelSize(), 16);
    EXPECT_EQ(button.font().weight(), QFont::Bold);
    CVexButton other("x");
    other.SetFontSize(18, 600);
    EXPECT_NEAR(QFontMetrics(other.font()).height(), 18, 1);

    const QImage normal = button.grab().toImage();
    EXPECT_EQ(QColor(normal.pixel(0, 0)), kFace);  // semi-flat: no edge at rest
    EXPECT_EQ(QColor(normal.pixel(45, 3)), kFace);
    EXPECT_GT(CountPixels(normal, kCaption), 20);

    button.setAttribute(Qt::WA_UnderMouse, true);
    const QImage hover = button.grab().toImage();
    button.setAttribute(Qt::WA_UnderMouse, false);
    EXPECT_NE(QColor(hover.pixel(45, 3)), kFace);
    EXPECT_NE(QColor(hover.pixel(0, 0)), QColor(hover.pixel(45, 3)));  // edge shows

    button.setDown(true);
    const QImage pressed = button.grab().toImage();
    button.setDown(false);
    EXPECT_LT(qGray(pressed.pixel(45, 3)), qGray(kFace.rgb()));

    button.setEnabled(false);
    const QImage disabled = button.grab().toImage();
    button.setEnabled(true);
    EXPECT_NE(QColor(disabled.pixel(45, 3)), kFace);
    EXPECT_EQ(CountPixels(disabled, kCaption), 0);
}

TEST(VexButton, CaptionColourIsTheMemberWrittenLast) {
    // The information dialog sets one colour through SetTextColor and then another
    // in m_crText; the caption shows the latter.
    CVexButton button("OK");
    button.resize(90, 36);
    button.SetFontSize(-16, 700);
    button.SetTextColor(kCaption, QColor(), QColor());
    button.m_crText = QColor(255, 255, 255);
    const QImage image = button.grab().toImage();
    EXPECT_GT(CountPixels(image, QColor(255, 255, 255)), 20);
    EXPECT_EQ(CountPixels(image, kCaption), 0);
}

TEST(VexButton, KeyboardFocusIsDrawn) {
    QWidget window;
    window.resize(200, 100);
    auto* button = new CVexButton("Close", &window);
    StyleLikeTheMainWindow(*button);
    auto* other = new CVexButton("Start", &window);
    other->move(100, 0);
    window.show();
    QApplication::setActiveWindow(&window);
    other->setFocus();
    const QImage without = button->grab().toImage();
    button->setFocus();
    if (!button->hasFocus())
        GTEST_SKIP() << "the platform gives no focus";
    const QImage with = button->grab().toImage();
    EXPECT_NE(without, with);
}

TEST(LumStatic, TextInItsColourOnTheParentsBackground) {
    QWidget parent;
    parent.resize(200, 60);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(73, 86, 119));
    parent.setPalette(palette);
    auto* label = new CLumStatic(" Time Screen:", &parent);
    label->setGeometry(0, 0, 200, 60);
    label->m_crText = kCaption;

    QImage image = parent.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(199, 59)), QColor(73, 86, 119));
    EXPECT_GT(CountPixels(image, kCaption), 10);

    // A handed-over font is the one drawn and measured.
    const int plainHeight = label->sizeHint().height();
    auto font = std::make_unique<QFont>("Liberation Sans");
    font->setPixelSize(40);
    label->m_pFont = std::move(font);
    label->update();
    image = parent.grab().toImage();
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (QColor(image.pixel(x, y)) == kCaption) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    EXPECT_GE(bottom - top, 25);
    EXPECT_GT(label->sizeHint().height(), plainHeight + 20);
}
