#include "framework/control_text.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

QString ControlText(const QWidget& control) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
        return edit->text();
    }
    if (const auto* combo = qobject_cast<const QComboBox*>(&control)) {
        return combo->currentText();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        return label->text();
    }
    return control.windowTitle();
}

void SetControlText(QWidget& control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(&control)) {
        edit->setText(text);
    } else if (auto* combo = qobject_cast<QComboBox*>(&control)) {
        if (combo->isEditable()) {
            combo->setEditText(text);
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(&control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(&control)) {
        label->setText(text);
    } else {
        control.setWindowTitle(text);
    }
}
