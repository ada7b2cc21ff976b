#pragma once

#include <QWidget>

class QAbstractButton;

// A pair of arrow buttons, the upper above the lower, that reports each press as a
// proposed change of its position. As with an up-down control on its default range
// (100 at the bottom, 0 at the top) the upper arrow proposes -1 and the lower +1;
// the position itself is of no interest to anyone and is not kept. Holding an arrow
// repeats; with the keyboard focus, the Up and Down keys press the arrows.
class CUpDownCtrl : public QWidget {
    Q_OBJECT
  public:
    explicit CUpDownCtrl(QWidget* parent = nullptr);

    static constexpr int kUpperArrowDelta = -1;
    static constexpr int kLowerArrowDelta = +1;

    QSize sizeHint() const override;

    // Ends the press under way: a held arrow stops repeating and stays quiet until it is
    // released and pressed again. For a press whose value was refused: a message box shown
    // while the arrow repeats would be followed by another at every repeat.
    void EndPress();

  signals:
    // Emitted once per press (and once per auto-repeat step) on the widget's thread.
    void DeltaPos(int delta);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class ArrowButton;
    ArrowButton* m_upper;
    ArrowButton* m_lower;
};
