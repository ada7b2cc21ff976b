#include "widgets/up_down_ctrl.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

// One half of the control: a raised face with a triangle pointing up or down.
class CUpDownCtrl::ArrowButton : public QAbstractButton {
  public:
    ArrowButton(bool pointsUp, QWidget* parent) : QAbstractButton(parent), m_pointsUp(pointsUp) {
        setFocusPolicy(Qt::NoFocus);
        setAutoRepeat(true);
        setAutoRepeatDelay(400);
        setAutoRepeatInterval(100);
    }

    void EndPress() {
        if (isDown()) {
            m_ended = true;
            setDown(false);
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& pal = palette();
        const bool sunken = isDown();
        const QRect face = rect();

        painter.fillRect(face, pal.color(QPalette::Button));
        // A one-pixel bevel: light on the top-left edges, dark on the bottom-right,
        // swapped while the arrow is held down.
        const QColor light = sunken ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
        const QColor dark = sunken ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
        painter.setPen(light);
        painter.drawLine(face.topLeft(), face.topRight());
        painter.drawLine(face.topLeft(), face.bottomLeft());
        painter.setPen(dark);
        painter.drawLine(face.bottomLeft(), face.bottomRight());
        painter.drawLine(face.topRight(), face.bottomRight());

        // The triangle: as wide as the face allows, half as tall as it is wide.
        const int available = qMax(2, qMin(face.width() - 4, (face.height() - 2) * 2));
        const int base = available - (available + 1) % 2;  // odd, so the tip sits on a pixel
        const int halfBase = base / 2;
        const int height = qMax(1, (halfBase + 1));
        const int offset = sunken ? 1 : 0;
        const int cx = face.width() / 2 + offset;
        const int top = (face.height() - height) / 2 + offset;

        QPainterPath triangle;
        if (m_pointsUp) {
            triangle.moveTo(cx - halfBase, top + height);
            triangle.lineTo(cx + halfBase + 1, top + height);
            triangle.lineTo(cx + 0.5, top);
        } else {
            triangle.moveTo(cx - halfBase, top);
            triangle.lineTo(cx + halfBase + 1, top);
            triangle.lineTo(cx + 0.5, top + height);
        }
        triangle.closeSubpath();
        const QColor arrow = isEnabled() ? pal.color(QPalette::ButtonText)
                                         : pal.color(QPalette::Disabled, QPalette::ButtonText);
        painter.fillPath(triangle, arrow);
    }

    // An ended press ignores the rest of its mouse movements, which would press the arrow
    // again when the pointer comes back over it.
    void mousePressEvent(QMouseEvent* event) override {
        m_ended = false;
        QAbstractButton::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!m_ended) {
            QAbstractButton::mouseMoveEvent(event);
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QAbstractButton::mouseReleaseEvent(event);
        m_ended = false;
    }

  private:
    bool m_pointsUp;
    bool m_ended = false;
};

CUpDownCtrl::CUpDownCtrl(QWidget* parent)
    : QWidget(parent), m_upper(new ArrowButton(true, this)), m_lower(new ArrowButton(false, this)) {
    setFocusPolicy(Qt::StrongFocus);
    connect(m_upper, &QAbstractButton::pressed, this, [this] { emit DeltaPos(kUpperArrowDelta); });
    connect(m_lower, &QAbstractButton::pressed, this, [this] { emit DeltaPos(kLowerArrowDelta); });
    // Auto-repeat sends released/pressed pairs while held; each repeat is a new press.
}

void CUpDownCtrl::EndPress() {
    m_upper->EndPress();
    m_lower->EndPress();
}

QSize CUpDownCtrl::sizeHint() const {
    return QSize(16, 24);
}

void CUpDownCtrl::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
            emit DeltaPos(kUpperArrowDelta);
            break;
        case Qt::Key_Down:
            emit DeltaPos(kLowerArrowDelta);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void CUpDownCtrl::resizeEvent(QResizeEvent* event) {
    const int upperHeight = height() / 2;
    m_upper->setGeometry(0, 0, width(), upperHeight);
    m_lower->setGeometry(0, upperHeight, width(), height() - upperHeight);
    QWidget::resizeEvent(event);
}
