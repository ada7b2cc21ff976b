#include "framework/dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <cmath>

#include "framework/control_text.h"
#include "framework/data_exchange.h"
#include "framework/template_controls.h"
#include "resources/fonts.h"

namespace {

Qt::WindowFlags FlagsFor(const DialogTemplate& dialogTemplate) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (dialogTemplate.styles & kDlgCaption) {
        flags |= Qt::WindowTitleHint;
    }
    if (dialogTemplate.styles & kDlgSysMenu) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (dialogTemplate.styles & kDlgMinimizeBox) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    return flags;
}

// Smaller than this the dialog font stops being legible; a screen that small gets a window
// placed with its top left in view instead.
constexpr int kSmallestFontPixels = 7;

DialogTemplate EmptyTemplate(int templateId) {
    return DialogTemplate{templateId, QString(), 0, 0, QString(), 8, QFont::Normal, 0, {}};
}

}  // namespace

CDialog::CDialog(int templateId, QWidget* parent)
    : CDialog(FindDialogTemplate(templateId), templateId, parent) {}

CDialog::CDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : CDialog(&dialogTemplate, dialogTemplate.id, parent) {}

CDialog::CDialog(const DialogTemplate* dialogTemplate, int templateId, QWidget* parent)
    : QDialog(parent, dialogTemplate != nullptr ? FlagsFor(*dialogTemplate) : Qt::Dialog),
      m_template(dialogTemplate != nullptr ? *dialogTemplate : EmptyTemplate(templateId)),
      m_templateFound(dialogTemplate != nullptr),
      m_templateFont(
          MakeTemplateFont(m_template.fontFace, m_template.fontPointSize, m_template.fontWeight)),
      m_units(DialogBaseUnits::FromFont(m_templateFont)) {
    if (!m_templateFound) {
        qWarning("dialog template %d does not exist", templateId);
    }
    setFont(m_templateFont);
    setWindowTitle(m_template.caption);
    const QRect client = m_units.MapRect(0, 0, m_template.cx, m_template.cy);
    setFixedSize(client.size());
    BuildControls();
}

// Attached members belong to the derived dialog and are already gone by the time
// this runs: nothing here may touch m_controls' widgets.
CDialog::~CDialog() = default;

void CDialog::BuildControls() {
    m_controls.reserve(m_template.controls.size());
    for (const DialogControlTemplate& row : m_template.controls) {
        QWidget* widget = CreateDefaultControl(row, this);
        ApplyControlTemplate(*widget, row, m_units);
        ConnectCommand(row.id, *widget);
        m_controls.push_back(ControlSlot{&row, widget, true});
    }
    RestoreTemplateOrder();
}

void CDialog::ConnectCommand(int controlId, QWidget& widget) {
    if (controlId == IDC_STATIC) {
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, controlId] { OnCommand(controlId); });
    }
}

void CDialog::RestoreTemplateOrder() {
    // Tab order follows the template; so does stacking, the first row on top.
    QWidget* previous = nullptr;
    for (const ControlSlot& slot : m_controls) {
        if (previous != nullptr) {
            QWidget::setTabOrder(previous, slot.widget);
        }
        previous = slot.widget;
    }
    for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
        it->widget->raise();
    }
}

CDialog::ControlSlot* CDialog::FindSlot(int controlId) {
    if (controlId == IDC_STATIC) {
        return nullptr;
    }
    for (ControlSlot& slot : m_controls) {
        if (slot.row->id == controlId) {
            return &slot;
        }
    }
    return nullptr;
}

const CDialog::ControlSlot* CDialog::FindSlot(int controlId) const {
    return const_cast<CDialog*>(this)->FindSlot(controlId);
}

QWidget* CDialog::GetDlgItem(int controlId) const {
    const ControlSlot* slot = FindSlot(controlId);
    return slot != nullptr ? slot->widget : nullptr;
}

QRect CDialog::MapDialogRect(int x, int y, int width, int height) const {
    return m_units.MapRect(x, y, width, height);
}

double CDialog::ShrinkToFit(const QSize& room, int below) {
    const QSize full = m_units.MapRect(0, 0, m_template.cx, m_template.cy).size();
    const auto fits = [&](const QSize& area, double zoom) {
        return area.width() <= room.width() &&
               area.height() + static_cast<int>(std::ceil(below * zoom)) <= room.height();
    };
    if (full.isEmpty() || fits(full, 1.0)) {
        return 1.0;
    }
    QFont font = m_templateFont;
    DialogBaseUnits units = m_units;
    QSize area = full;
    double zoom = 1.0;
    // Base units are whole pixels, so the font is tried a pixel at a time.
    for (int pixels = font.pixelSize() - 1; pixels >= kSmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        units = DialogBaseUnits::FromFont(font);
        area = units.MapRect(0, 0, m_template.cx, m_template.cy).size();
        zoom = std::min(double(area.width()) / full.width(), double(area.height()) / full.height());
        if (fits(area, zoom)) {
            break;
        }
    }
    m_templateFont = font;
    m_units = units;
    setFont(font);
    setFixedSize(area);
    for (const ControlSlot& slot : m_controls) {
        const DialogControlTemplate& row = *slot.row;
        QRect place = m_units.MapRect(row.x, row.y, row.cx, row.cy);
        if (row.kind == DialogControlKind::StaticIcon) {
            place.setSize(slot.widget->size());
        }
        slot.widget->setGeometry(place);
    }
    return zoom;
}

QSize CDialog::ScreenRoom() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return QSize(INT_MAX, INT_MAX);
    }
    // The frame is only known once a window manager has framed the window: a title bar and
    // borders as the style draws them stand in for it.
    const QStyle* style = QApplication::style();
    const int border = style != nullptr ? style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth) : 4;
    const int title = style != nullptr ? style->pixelMetric(QStyle::PM_TitleBarHeight) : 24;
    return screen->availableGeometry().size() - QSize(2 * border, title + 2 * border);
}

bool CDialog::AttachControl(int controlId, QWidget& member) {
    ControlSlot* slot = FindSlot(controlId);
    if (slot == nullptr) {
        qWarning("dialog %d has no control %d to attach", m_template.id, controlId);
        return false;
    }
    if (slot->widget == &member) {
        return true;
    }
    QWidget* previous = slot->widget;
    member.setParent(this);
    ApplyControlTemplate(member, *slot->row, m_units);
    // Whatever happened to the plain widget since it was made carries over.
    member.setGeometry(previous->geometry());
    member.setEnabled(previous->isEnabled());
    if (slot->row->kind != DialogControlKind::ComboBox &&
        slot->row->kind != DialogControlKind::StaticIcon) {
        SetControlText(member, ControlText(*previous));
    }
    member.setVisible(!previous->isHidden());
    ConnectCommand(controlId, member);

    const bool hadFocus = previous->hasFocus() || focusWidget() == previous;
    slot->widget = &member;
    if (slot->ownsWidget) {
        delete previous;
    }
    slot->ownsWidget = false;
    RestoreTemplateOrder();
    if (hadFocus) {
        member.setFocus();
    }
    return true;
}

bool CDialog::Create() {
    if (!m_templateFound) {
        return false;
    }
    if (OnInitDialog()) {
        FocusFirstTabStop();
    }
    return true;
}

int CDialog::DoModal() {
    if (!Create()) {
        return -1;
    }
    CentreBeforeShowing();
    const int result = exec();
    OnDestroy();
    return result;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return !exchange.Failed();
}

void CDialog::EndDialog(int result) {
    done(result);
}

void CDialog::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnCommand(int controlId) {
    if (controlId == IDOK) {
        OnOK();
    } else if (controlId == IDCANCEL) {
        OnCancel();
    }
}

void CDialog::OnDestroy() {}

void CDialog::FocusFirstTabStop() {
    for (const ControlSlot& slot : m_controls) {
        if ((slot.row->styles & kCtlTabStop) && slot.widget->isEnabled() &&
            !slot.widget->isHidden() && slot.widget->focusPolicy() != Qt::NoFocus) {
            // A dialog opens with its focus cue showing, as if reached from the keyboard.
            setAttribute(Qt::WA_KeyboardFocusChange);
            slot.widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void CDialog::CentreBeforeShowing() {
    // A template has no position of its own. Like a dialog whose owner is the
    // program's window, a dialog without a parent centres over the active window;
    // with no owner on the screen it centres on the screen.
    QWidget* owner =
        parentWidget() != nullptr ? parentWidget()->window() : QApplication::activeWindow();
    QRect area;
    if (owner != nullptr && owner != this && owner->isVisible() && !owner->isMinimized()) {
        area = owner->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    // Made now so that a platform that knows its frame up front can report it.
    winId();
    const QSize outer = frameGeometry().size();
    // A window larger than the area keeps its top left (its title bar) in view.
    move(area.x() + std::max(0, (area.width() - outer.width()) / 2),
         area.y() + std::max(0, (area.height() - outer.height()) / 2));
}

void CDialog::SendKeyboardCommand(int controlId) {
    if (const QWidget* control = GetDlgItem(controlId);
        control != nullptr && !control->isEnabled()) {
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(controlId))) {
        button->click();
        return;
    }
    OnCommand(controlId);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
            focused != nullptr && isAncestorOf(focused)) {
            if (focused->isEnabled()) {
                focused->click();
            }
            return;
        }
        int defaultId = IDOK;
        for (const ControlSlot& slot : m_controls) {
            if (slot.row->styles & kCtlDefPushButton) {
                defaultId = slot.row->id;
                break;
            }
        }
        SendKeyboardCommand(defaultId);
        return;
    }
    if (plain && event->key() == Qt::Key_Escape) {
        event->accept();
        SendKeyboardCommand(IDCANCEL);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDialog::accept() {
    OnCommand(IDOK);
}

// The close box ends up here, by way of QDialog's close handling.
void CDialog::reject() {
    if (const QWidget* cancel = GetDlgItem(IDCANCEL); cancel != nullptr && !cancel->isEnabled()) {
        return;
    }
    OnCommand(IDCANCEL);
}
