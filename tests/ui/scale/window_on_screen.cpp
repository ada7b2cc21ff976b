// The main window on a 1280×1024 screen at the scale factor CTest sets (QT_SCALE_FACTOR, a
// process each): inside the screen's free area, and no two controls over each other.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "main_window_harness.h"

namespace {

QRect OnScreen(const QWidget& widget) {
    return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
}

}  // namespace

TEST(WindowOnScreen, EveryControlInsideTheScreenAndNoneOverAnother) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSizeF pixels = screen.size() * QGuiApplication::primaryScreen()->devicePixelRatio();
    ASSERT_NEAR(pixels.width(), 1280, 1);
    ASSERT_NEAR(pixels.height(), 1024, 1);
    CMainWindowHarness harness;
    harness.Run([&](CMainDlg& window) {
        ASSERT_TRUE(WaitUntil([&] { return window.isVisible(); }));
        EXPECT_TRUE(screen.contains(window.frameGeometry()))
            << window.frameGeometry().width() << "x" << window.height();
        std::vector<const QWidget*> controls;
        for (const QObject* child : window.children()) {
            const auto* widget = qobject_cast<const QWidget*>(child);
            if (widget != nullptr && widget->isVisible() && !widget->isWindow()) {
                controls.push_back(widget);
            }
        }
        ASSERT_GE(controls.size(), 17u);  // the template's rows and the status line
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const QRect place = OnScreen(*controls[i]);
            EXPECT_TRUE(screen.contains(place)) << controls[i]->metaObject()->className();
            for (std::size_t j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(place.intersects(OnScreen(*controls[j])))
                    << controls[i]->metaObject()->className() << " "
                    << controls[j]->metaObject()->className();
            }
        }
        window.close();
    });
}
