#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <memory>

// Coloured label on a transparent background. A font handed over in m_pFont is
// owned by the label from then on; without one the label uses its widget font. Whatever
// of either font no one set is the program's default widget font, never the machine's.
class CLumStatic : public QLabel {
    Q_OBJECT
  public:
    explicit CLumStatic(QWidget* parent = nullptr);
    CLumStatic(const QString& text, QWidget* parent = nullptr);

    QColor m_crText{0, 0, 0};
    std::unique_ptr<QFont> m_pFont;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QFont EffectiveFont() const;
    QSize TextExtent(int wrapWidth) const;
};
