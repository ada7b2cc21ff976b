#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include "resources/fonts.h"
#include "widgets/lum_static.h"
#include "widgets/vex_button.h"
#include "widgets/vex_graph_wnd.h"

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

// Pixels that are not the label's background.
int CountInk(const QImage& image) {
    return image.width() * image.height() - CountPixels(image, kFace);
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
    // Anti-aliased strokes of small text are mostly partial pixels: count those
    // nearer the caption's colour than the background's.
    int caption = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            caption += qGray(image.pixel(x, y)) > (qGray(kCaption.rgb()) + qGray(kFace.rgb())) / 2;
    }
    EXPECT_GT(caption, 40);

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

TEST(WidgetFonts, EveryWidgetDrawsInTheProgramsFontWhateverTheMachinesDefault) {
    // A bare Debian 12's default sans-serif is a monospace face; nothing may draw in it.
    const QFont machineDefault = QApplication::font();
    const auto drawnWith = [](const QFont& applicationFont) {
        QApplication::setFont(applicationFont);
        CLumStatic label(" Time Screen:");
        label.resize(120, 20);
        label.m_crText = kCaption;
        CVexButton button("Start");
        StyleLikeTheMainWindow(button);
        CVexGraphWnd graph;
        graph.resize(300, 200);
        graph.SetXTitle("Time(S)");
        graph.m_pGraph->EnableShowXTitle(1);
        return std::vector<QImage>{label.grab().toImage(), button.grab().toImage(),
                                   graph.grab().toImage()};
    };
    const std::vector<QImage> mono = drawnWith(QFont("Liberation Mono", 14));
    const std::vector<QImage> serif = drawnWith(QFont("Liberation Serif", 7));
    QApplication::setFont(machineDefault);
    for (std::size_t i = 0; i < mono.size(); ++i)
        EXPECT_EQ(mono[i], serif[i]) << "widget " << i;
    EXPECT_EQ(QFontInfo(DefaultWidgetFont()).family(), "Liberation Sans");

    // A font a dialog gives its controls still reaches them.
    QWidget dialog;
    dialog.setFont(QFont("Liberation Serif", 20));
    auto* inDialog = new CLumStatic(" Time Screen:", &dialog);
    inDialog->resize(120, 20);
    inDialog->m_crText = kCaption;
    EXPECT_NE(inDialog->grab().toImage(), mono[0]);
}

TEST(LabelFont, CaptionFitsItsBoxEmboldenedWithItsColon) {
    // The readout captions' box: 68 x 11 dialog units of the main window's font
    // (base units 7 x 14 in Liberation Sans 12 px), 119 x 19 pixels.
    const int boxWidth = 119, boxHeight = 19;
    const auto draw = [](const QString& text, const QFont& font) {
        QWidget parent;
        parent.resize(200, 40);
        parent.setAutoFillBackground(true);
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, kFace);
        parent.setPalette(palette);
        auto* label = new CLumStatic(text, &parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setGeometry(0, 0, 200, 40);
        label->m_crText = kCaption;
        label->m_pFont = std::make_unique<QFont>(font);
        return parent.grab().toImage();
    };
    const QFont font = *MakeLabelFont();
    EXPECT_LE(QFontMetrics(font).height(), boxHeight);
    for (const QString& caption :
         {QStringLiteral(" Speed Screen:"), QStringLiteral(" Time Screen:")}) {
        const QImage image = draw(caption, font);
        int inside = 0, outside = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (QColor(image.pixel(x, y)) != kFace)
                    (x < boxWidth && y < boxHeight ? inside : outside) += 1;
            }
        }
        EXPECT_GT(inside, 100) << caption.toStdString();
        EXPECT_EQ(outside, 0) << caption.toStdString();
        // The colon is drawn (inside the box, as checked above).
        EXPECT_NE(image, draw(caption.chopped(1), font)) << caption.toStdString();
        // Weight 600 is emboldened, as Windows draws SimSun: far more ink than 400.
        QFont regular = font;
        regular.setWeight(QFont::Normal);
        EXPECT_GT(CountInk(image), CountInk(draw(caption, regular)) * 13 / 10)
            << caption.toStdString();
    }
}

// The focus cue never runs through the caption, whatever the button's height: at 1x and 2x the
// template's buttons are barely taller than their bold text.
TEST(VexButtonFocus, TheCueStaysInsideTheButtonAndClearOfTheCaption) {
    QFont font;
    font.setPixelSize(16);
    font.setBold(true);
    const QFontMetrics metrics(font);
    for (const QRect area : {QRect(0, 0, 70, 20), QRect(0, 0, 70, 24), QRect(0, 0, 140, 40)}) {
        const QRect cue = CVexButton::FocusRect(area, metrics, QStringLiteral("OK"));
        const QRect caption =
            metrics.tightBoundingRect(QStringLiteral("OK"))
                .translated(area.center() - metrics.tightBoundingRect("OK").center());
        EXPECT_TRUE(area.contains(cue)) << area.height();
        EXPECT_TRUE(cue.adjusted(1, 1, -1, -1).contains(caption)) << area.height();
    }
}
