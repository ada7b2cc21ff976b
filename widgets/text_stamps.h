#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include "widgets/text_advances.h"

class QPainter;
class QRect;

// Short texts drawn again and again (a graph's tick labels): each is laid out and
// rasterised once into a transparent image and then stamped where it goes. Shaping the
// text is most of what drawing it costs. Only text without anti-aliasing, drawn without
// rotation, is stamped: its pixels are either the pen's colour or untouched, and moving it by
// whole pixels moves every one of them, so a stamp leaves exactly the pixels drawText would.
// Under a scale (a high-density screen) it is laid out and stamped in device pixels. Anything
// else is drawn as usual.
class CTextStamps {
  public:
    // As painter.drawText(box, flags, text), with the painter's font and pen colour.
    void Draw(QPainter& painter, const QRect& box, int flags, const QString& text);
    // As painter.translate(origin), painter.rotate(-90) and then DrawDeviceText(painter, box,
    // flags, text): an axis title read from the bottom up. Stamped too, when nothing but a
    // whole-pixel move stands between the painter and its device.
    void DrawTurnedLeft(QPainter& painter, QPoint origin, const QRect& box, int flags,
                        const QString& text);
    // The text's advance in `font`: a label the axis has not shown before is added up from its
    // characters' advances, without shaping it.
    int Advance(const QFont& font, const QString& text);

  private:
    struct Stamp {
        QImage image;   // only the pixels the text covers
        QPoint offset;  // where the image goes, from the box's top left
    };
    struct Key {
        QRgb color;
        int flags;
        QSize box;
        QString text;
        // Turned left: where the box lies from the origin, which moves the text in the stamp.
        bool turned = false;
        QPoint at;
        bool operator==(const Key&) const = default;
    };
    friend size_t qHash(const Key& key, size_t seed) {
        return qHashMulti(seed, key.color, key.flags, key.box.width(), key.box.height(), key.text,
                          key.turned, key.at.x(), key.at.y());
    }
    void DrawUnscaled(QPainter& painter, const QRect& box, int flags, const QString& text);
    // The stamp of `text` in `box`, made when new; its offset is from the box's top left, or
    // from the turn's origin when `turned`.
    const Stamp& StampFor(const QFont& font, const QColor& color, const QRect& box, int flags,
                          const QString& text, bool turned);
    static Stamp Crop(const QImage& canvas, QPoint origin);
    // Forgets everything made for another font, or once the texts seen grow past a bound
    // (a graph's labels change with its range).
    void UseFont(const QFont& font);

    QFont m_font;
    QHash<Key, Stamp> m_stamps;
    // Tick labels hold no blank: each is one part.
    CTextAdvances m_advances{u" "};
};
