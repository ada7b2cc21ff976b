#pragma once

#include <functional>
#include <optional>

#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <QWidget>

#include "widgets/text_advances.h"

// The line along the bottom of the main window: the port and instrument, the link's state and
// the run's journal, and the latest note. Painted in the window's colours; it never takes the
// focus.
class CStatusLine : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kHeight = 22;

    explicit CStatusLine(QWidget* parent = nullptr);
    // Its text and height follow a window made smaller to fit the screen.
    void SetZoom(double zoom);

    // The left part (where and what) and the right part (state, journal, note).
    void SetTexts(const QString& left, const QString& right);
    // An alarm takes the right part, in red, until it is clicked (AlarmAcknowledged); empty:
    // none.
    void SetAlarm(const QString& text);
    QString Alarm() const { return m_alarm; }
    QString Left() const { return m_left; }
    QString Right() const { return m_right; }

    // Where the two parts go in `rect`, and their texts as shown (shortened to fit).
    struct Layout {
        QRect leftBox;
        QString leftShown;
        QRect rightBox;
        QString rightShown;
        int rightAdvance = 0;  // of rightShown
    };
    // `advance` measures a text in the font of `metrics`.
    static Layout LayOut(const QFontMetrics& metrics, const QRect& rect, const QString& left,
                         const QString& right, const std::function<int(const QString&)>& advance);
    // How `room` pixels are shared between the two parts, which need `left` and `right`: a
    // part is shortened only when both don't fit, and then the longer one.
    struct Widths {
        int left;
        int right;
    };
    static Widths ShareWidth(int left, int right, int room);
    // Between the two parts.
    static constexpr int kGap = 16;
    // The pixels that differ between two layouts when only the right part's text changed;
    // empty when more than that changed. Measures only the characters both texts end with.
    static QRect ChangedRightPart(const Layout& before, const Layout& after,
                                  const std::function<int(const QString&)>& advance);
    // Between the parts of either text: the port and the instrument, the state, the journal
    // and the notes.
    static constexpr QStringView kSeparator = u" \u00b7 ";

  signals:
    void AlarmAcknowledged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QString RightShown() const { return m_alarm.isEmpty() ? m_right : m_alarm; }
    void UpdateToolTip();
    // The layout of the texts shown now, made again only when they, the size or the font
    // changed: shaping the texts is most of what a second's update costs.
    const Layout& ShownLayout();
    // Measures a text in the line's font, from the parts measured before.
    std::function<int(const QString&)> Measure();

    QString m_left;
    QString m_right;
    QString m_alarm;
    struct LayoutFor {
        QRect rect;
        QFont font;
        QString left, right;
        Layout layout;
    };
    std::optional<LayoutFor> m_layout;
    CTextAdvances m_advances{kSeparator};
};
