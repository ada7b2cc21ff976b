#include <gtest/gtest.h>

#include <QFontMetrics>

#include "dialog_test_support.h"
#include "resources/fonts.h"
#include "resources/string_table.h"
#include "ui/info_dlg.h"

using namespace dialog_test;

namespace {

const QColor kWindow(73, 86, 119);
const QColor kMessageText(234, 234, 234);

struct Shown {
    QString text;
    int textWidth = 0;
    int windowWidth = 0;  // frame included (offscreen reports a 2-pixel frame)
    int clientHeight = 0;
    QRect label;
    QRect button;
    QImage picture;
};

// Shows string `stringId` the way the program does and records the dialog as it
// stands on the screen.
Shown ShowAndMeasure(int stringId, const QString& detail = {}) {
    Shown shown;
    WhenModal([&shown](QWidget* modal) {
        auto* dialog = qobject_cast<CInfoDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        shown.text = dialog->m_stcText.text();
        shown.textWidth = QFontMetrics(*MakeLabelFont()).horizontalAdvance(shown.text);
        shown.windowWidth = dialog->frameGeometry().width();
        shown.clientHeight = dialog->height();
        shown.label = dialog->m_stcText.geometry();
        shown.button = dialog->m_btnOK.geometry();
        shown.picture = Grab(*dialog);
        PressKey(dialog, Qt::Key_Return);
    });
    ShowInformation(stringId, detail);
    return shown;
}

TEST(InfoDlg, WidthFollowsTheMessageInTheLabelFont) {
    const int templateHeight = CInfoDlg().height();
    int previousWidth = 0;
    for (int stringId : {IDS_CONNECT_FAILED, IDS_CONNECT_FAILED_RESTART, IDS_SPEED_OUT_OF_RANGE}) {
        const Shown shown = ShowAndMeasure(stringId);
        SCOPED_TRACE(shown.text.toStdString());
        EXPECT_EQ(shown.text, LoadStringResource(stringId));
        ASSERT_GT(shown.textWidth, 0);
        EXPECT_EQ(shown.label.width(), shown.textWidth + 10);
        EXPECT_EQ(shown.windowWidth, shown.textWidth + 40);
        EXPECT_EQ(shown.button.x(), (shown.windowWidth - shown.button.width()) / 2);
        EXPECT_EQ(shown.clientHeight, templateHeight);
        if (stringId == IDS_CONNECT_FAILED_RESTART) {
            EXPECT_GT(shown.windowWidth, previousWidth) << "103 is wider than 102";
        }
        previousWidth = shown.windowWidth;
    }
}

TEST(InfoDlg, DrawsTheMessageOnOneCentredLineInItsColours) {
    for (int stringId : {IDS_CONNECT_FAILED, IDS_CONNECT_FAILED_RESTART}) {
        const Shown shown = ShowAndMeasure(stringId);
        SCOPED_TRACE(shown.text.toStdString());
        EXPECT_EQ(shown.picture.pixelColor(2, 2), kWindow);

        const QRect ink = PixelsNear(shown.picture, shown.label, kMessageText, 24);
        ASSERT_FALSE(ink.isNull()) << "message drawn in RGB(234, 234, 234)";
        // One line in the measured font: no taller than a line, about as wide as the
        // measured text (less the first and last glyphs' bearings), centred in the
        // label with about 5 pixels to spare on either side.
        EXPECT_LE(ink.height(), QFontMetrics(*MakeLabelFont()).height());
        EXPECT_GE(ink.width(), shown.textWidth - 14);
        EXPECT_TRUE(shown.label.contains(ink));
        EXPECT_NEAR(ink.left() - shown.label.left(), shown.label.right() - ink.right(), 6);
    }
}

TEST(InfoDlg, ASecondLineMakesTheBoxALineTallerAndStaysAboveTheButton) {
    const int templateHeight = CInfoDlg().height();
    const Shown shown = ShowAndMeasure(
        IDS_SPEED_OUT_OF_RANGE, QStringLiteral("This instrument (KW41) runs at 100 to 500 1/min."));
    const int line = QFontMetrics(*MakeLabelFont()).lineSpacing();
    EXPECT_EQ(shown.clientHeight, templateHeight + line);
    const QRect ink = PixelsNear(shown.picture, shown.label, kMessageText, 24);
    EXPECT_GT(ink.height(), line);
    EXPECT_TRUE(shown.label.contains(ink));
    EXPECT_LT(ink.bottom(), shown.button.top());
}

TEST(InfoDlg, EmptyMessageAndEscapeStillWork) {
    CInfoDlg dialog;
    WhenModal([&dialog](QWidget*) {
        EXPECT_EQ(dialog.m_stcText.width(), 10);
        EXPECT_EQ(dialog.frameGeometry().width(), 40);
        PressKey(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

}  // namespace
