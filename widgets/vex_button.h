#pragma once

#include <QFontMetrics>
#include <QRect>

#include <QColor>
#include <QPushButton>

// Semi-flat push button: a flat face in m_crBackground that shows hover, press,
// disabled and keyboard focus, with its caption in m_crText. Whatever of its font no
// one set is the program's default widget font, never the machine's.
class CVexButton : public QPushButton {
    Q_OBJECT
  public:
    // Where the focus cue goes in a button `area` with caption `text`: inside the button and
    // clear of the caption wherever the button has the room.
    static QRect FocusRect(const QRect& area, const QFontMetrics& metrics, const QString& text);
    explicit CVexButton(QWidget* parent = nullptr);
    CVexButton(const QString& text, QWidget* parent = nullptr);

    void SetButtonSemiflat(int semiflat);
    void SetTextColor(QColor text, QColor hover, QColor pressed);
    void SetFontSize(long height, long weight);

    QSize sizeHint() const override;

    QColor m_crBackground{73, 86, 119};
    QColor m_crText{234, 234, 234};

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor FaceColor() const;
    QColor CaptionColor() const;

    bool m_bSemiflat = false;
    // Caption colours while pointed at and while pressed; invalid = m_crText.
    QColor m_crHoverText;
    QColor m_crPressedText;
};
