#include <gtest/gtest.h>

#include <QMouseEvent>
#include <vector>

#include "dialog_test_support.h"
#include "framework/dialog.h"
#include "widgets/up_down_ctrl.h"

using namespace dialog_test;

namespace {

void Click(QWidget& control, QPoint at) {
    QWidget* target = control.childAt(at) != nullptr ? control.childAt(at) : &control;
    const QPointF local = target->mapFrom(&control, at);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, local, control.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
}

TEST(UpDownCtrl, DrawsAnUpperAndALowerArrowAndReportsEachPress) {
    CDialog dialog(IDD_MAIN_DIALOG);
    auto* spin = qobject_cast<CUpDownCtrl*>(dialog.GetDlgItem(IDC_TIME_SPIN));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->geometry(), dialog.MapDialogRect(462, 247, 10, 14));
    dialog.show();

    // The arrow's ink per row widens downwards in the upper half, narrows in the lower.
    const QImage image = Grab(*spin);
    const QColor ink = spin->palette().color(QPalette::ButtonText);
    std::vector<int> widths;
    for (int y = 0; y < image.height(); ++y) {
        widths.push_back(PixelsNear(image, QRect(2, y, image.width() - 4, 1), ink, 60).width());
    }
    const int middle = image.height() / 2;
    const auto upperWidest = std::max_element(widths.begin(), widths.begin() + middle);
    const auto lowerWidest = std::max_element(widths.begin() + middle, widths.end());
    EXPECT_GT(*upperWidest, 2);
    EXPECT_GT(*lowerWidest, 2);
    EXPECT_LT(*std::find_if(widths.begin(), widths.end(), [](int w) { return w > 0; }),
              *upperWidest)
        << "upper arrow points up";
    EXPECT_LT(*std::find_if(widths.rbegin(), widths.rend(), [](int w) { return w > 0; }),
              *lowerWidest)
        << "lower arrow points down";

    std::vector<int> deltas;
    QObject::connect(spin, &CUpDownCtrl::DeltaPos,
                     [&deltas](int delta) { deltas.push_back(delta); });
    Click(*spin, QPoint(spin->width() / 2, 3));
    Click(*spin, QPoint(spin->width() / 2, spin->height() - 3));
    PressKey(spin, Qt::Key_Up);
    PressKey(spin, Qt::Key_Down);
    EXPECT_EQ(deltas, std::vector<int>({-1, +1, -1, +1}));

    spin->setEnabled(false);
    Click(*spin, QPoint(spin->width() / 2, 3));
    EXPECT_EQ(deltas.size(), 4u) << "a disabled spin reports nothing";
    dialog.hide();
}

}  // namespace
