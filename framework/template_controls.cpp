#include "framework/template_controls.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>

#include "framework/control_text.h"
#include "framework/dialog_units.h"
#include "widgets/up_down_ctrl.h"

namespace {

// The system's icon size, which a static icon takes whatever its template says.
constexpr int kStandardIconSize = 32;

// An edit control takes this many characters unless a limit is set for it.
constexpr int kDefaultEditTextLimit = 32767;

bool Has(const DialogControlTemplate& row, unsigned style) {
    return (row.styles & style) != 0;
}

Qt::FocusPolicy FocusPolicyFor(const DialogControlTemplate& row) {
    switch (row.kind) {
        case DialogControlKind::PushButton:
        case DialogControlKind::Edit:
        case DialogControlKind::ComboBox:
            return Has(row, kCtlTabStop) ? Qt::StrongFocus : Qt::ClickFocus;
        case DialogControlKind::UpDown:
            // Clicking an up-down's arrows leaves the focus where it was.
            return Has(row, kCtlTabStop) ? Qt::TabFocus : Qt::NoFocus;
        case DialogControlKind::StaticText:
        case DialogControlKind::StaticFrame:
        case DialogControlKind::StaticIcon:
            break;
    }
    return Qt::NoFocus;
}

void ApplyComboTemplate(QComboBox& combo, const DialogControlTemplate& row,
                        const DialogBaseUnits& units, const QRect& area) {
    combo.setEditable(Has(row, kCtlDropDown));
    // A typed text stays as typed: no completion, no matching against the items on
    // Enter, and nothing added to the list.
    combo.setInsertPolicy(QComboBox::NoInsert);
    combo.setDuplicatesEnabled(true);
    if (combo.isEditable()) {
        combo.setCompleter(nullptr);
    }
    combo.clear();
    combo.addItems(row.initialItems);
    combo.setCurrentIndex(-1);

    // The template's height covers the opened list as well; the closed box is as
    // tall as the font needs, the rest is the list.
    const int closedHeight = combo.sizeHint().height();
    combo.setGeometry(area.x(), area.y(), area.width(), closedHeight);
    const int itemHeight = qMax(1, units.cy + 2);
    combo.setMaxVisibleItems(qMax(1, (area.height() - closedHeight) / itemHeight));
}

void ApplyStaticTextTemplate(QLabel& label, const DialogControlTemplate& row) {
    const Qt::Alignment horizontal = Has(row, kCtlCenter) ? Qt::AlignHCenter : Qt::AlignLeft;
    label.setAlignment(horizontal | Qt::AlignTop);
    label.setTextFormat(Qt::PlainText);
}

void ApplyFrameTemplate(QFrame& frame, const DialogControlTemplate& row) {
    if (Has(row, kCtlModalFrameEdge)) {
        frame.setFrameStyle(QFrame::Panel | QFrame::Raised);
        frame.setLineWidth(2);
    } else if (Has(row, kCtlStaticEdge)) {
        frame.setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame.setLineWidth(1);
    } else {
        frame.setFrameStyle(QFrame::NoFrame);
    }
}

}  // namespace

QWidget* CreateDefaultControl(const DialogControlTemplate& row, QWidget* parent) {
    switch (row.kind) {
        case DialogControlKind::PushButton:
            return new QPushButton(parent);
        case DialogControlKind::StaticText:
            return new QLabel(parent);
        case DialogControlKind::StaticFrame:
            return new QFrame(parent);
        case DialogControlKind::StaticIcon:
            return new QLabel(parent);
        case DialogControlKind::Edit:
            return new QLineEdit(parent);
        case DialogControlKind::ComboBox:
            return new QComboBox(parent);
        case DialogControlKind::UpDown:
            return new CUpDownCtrl(parent);
    }
    return new QWidget(parent);
}

void ApplyControlTemplate(QWidget& control, const DialogControlTemplate& row,
                          const DialogBaseUnits& units) {
    const QRect area = units.MapRect(row.x, row.y, row.cx, row.cy);
    control.setGeometry(area);
    control.setEnabled(!Has(row, kCtlDisabled));
    control.setFocusPolicy(FocusPolicyFor(row));

    if (auto* button = qobject_cast<QPushButton*>(&control)) {
        // Enter is the dialog's business (the focused button, else the default one); the
        // default button still wears its cue.
        button->setAutoDefault(false);
        button->setDefault(Has(row, kCtlDefPushButton));
    }
    if (auto* label = qobject_cast<QLabel*>(&control)) {
        if (row.kind == DialogControlKind::StaticIcon) {
            label->setPixmap(QPixmap(QStringLiteral(":/images/icon_%1.png").arg(row.imageId)));
            label->setGeometry(area.x(), area.y(), kStandardIconSize, kStandardIconSize);
        } else {
            ApplyStaticTextTemplate(*label, row);
        }
    }
    if (auto* frame = qobject_cast<QFrame*>(&control);
        frame && row.kind == DialogControlKind::StaticFrame) {
        ApplyFrameTemplate(*frame, row);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(&control)) {
        edit->setMaxLength(kDefaultEditTextLimit);
        edit->setFrame(true);
    }
    if (auto* combo = qobject_cast<QComboBox*>(&control)) {
        ApplyComboTemplate(*combo, row, units, area);
    }
    if (!row.caption.isEmpty()) {
        SetControlText(control, row.caption);
    }
}
