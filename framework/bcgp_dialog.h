#pragma once

#include <QColor>

#include "framework/dialog.h"

// A dialog that paints its background in a colour of its own choosing.
class CBCGPDialog : public CDialog {
    Q_OBJECT
  public:
    explicit CBCGPDialog(int templateId, QWidget* parent = nullptr);
    explicit CBCGPDialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    // An invalid colour goes back to the style's own background.
    void SetBackgroundColor(const QColor& color, bool repaint = true);
    QColor BackgroundColor() const { return m_background; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor m_background;
};

// Releases what the dialog layer holds for the whole process; called once at exit,
// after the last dialog has gone.
void BCGCBProCleanUp();
