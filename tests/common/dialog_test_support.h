#pragma once

// Helpers for driving modal dialogs and reading what widgets draw.

#include <gtest/gtest.h>
#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace dialog_test {

// Runs `action` once a modal widget other than `except` is on the screen, from
// inside its modal loop. Gives up (closing whatever modal widget is up, so the test
// can't hang) if none appears within a few seconds.
inline void WhenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr) {
    auto* timer = new QTimer(qApp);
    auto attempts = std::make_shared<int>(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, attempts, except, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != except && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
            return;
        }
        if (++*attempts > 1000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal widget appeared";
            if (modal != nullptr) {
                modal->close();
            }
        }
    });
    timer->start();
}

// A key press and release as the window system delivers them: to the focus widget,
// travelling up to its parents while ignored.
inline void PressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QPointer<QWidget> guard(target);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    if (guard) {
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(guard, &release);
    }
}

// Types text into an edit field (or a combo box's edit field) as keystrokes would:
// replaces what is there.
inline void TypeText(QWidget* control, const QString& text) {
    QLineEdit* edit = qobject_cast<QLineEdit*>(control);
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        edit = combo->lineEdit();
    }
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    edit->insert(text);
}

// Answers the next message box with OK and hands its text to `seen`.
inline void AnswerMessageBox(QString* seen, QWidget* owner) {
    WhenModal(
        [seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr) << "expected a message box";
            *seen = box->text();
            box->accept();
        },
        owner);
}

inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline bool Near(QColor a, QColor b, int tolerance) {
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The smallest rectangle holding every pixel of `image` within `area` that is near
// `colour`; empty when there is none.
inline QRect PixelsNear(const QImage& image, const QRect& area, QColor colour, int tolerance) {
    QRect found;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (Near(image.pixelColor(x, y), colour, tolerance)) {
                found |= QRect(x, y, 1, 1);
            }
        }
    }
    return found;
}

}  // namespace dialog_test
