#include "framework/bcgp_dialog.h"

#include <QPainter>

CBCGPDialog::CBCGPDialog(int templateId, QWidget* parent) : CDialog(templateId, parent) {}

CBCGPDialog::CBCGPDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : CDialog(dialogTemplate, parent) {}

void CBCGPDialog::SetBackgroundColor(const QColor& color, bool repaint) {
    if (color == m_background) {
        return;
    }
    m_background = color;
    if (repaint) {
        update();
    }
}

void CBCGPDialog::paintEvent(QPaintEvent* event) {
    if (!m_background.isValid()) {
        CDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
}

void BCGCBProCleanUp() {
    // Dialogs own everything they make and release it as they go; the layer keeps
    // no process-wide state, so there is nothing left to release here.
}
