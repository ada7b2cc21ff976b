#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <vector>

// Seven-segment readout: shows a short text one glyph cell per character, the
// glyphs cut from a glyph strip picture and scaled to fill the control inside
// its sunken frame.
class CDigitST : public QWidget {
    Q_OBJECT
  public:
    explicit CDigitST(QWidget* parent = nullptr);

    // Loads glyph strip ":/images/bitmap_<bitmapId>.png" and sets the number of
    // character cells: 1, or 0 (nothing changed) when the picture is missing or
    // `cells` is not positive.
    int SetStyle(unsigned bitmapId, int cells);
    // Sets the text; a nonzero `redraw` repaints. The only way the readout repaints
    // on its own.
    void SetValue(const QString& text, int redraw);
    // With zero padding on, blank cells in front of the number show as unlit digits
    // rather than bare ground.
    void SetZeroPadding(int enable, int redraw);
    // The number of character cells.
    int GetPrecision() const { return m_nCells; }

    QString GetValue() const { return m_strText; }
    // Where cell `index` is drawn, in widget pixels.
    QRectF CellRect(int index) const;

    int m_nDecimals = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect GlyphArea() const;
    void ComposeFace();

    QImage m_strip;
    QImage m_unlitDigit;
    int m_nCellWidth = 0;
    int m_nCells = 0;
    bool m_bZeroPadding = false;
    QString m_strText;
    // The glyph row scaled to the control; rebuilt after a change of text, style
    // or size.
    QPixmap m_face;
    bool m_bFaceStale = true;
};
