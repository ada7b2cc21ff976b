#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <vector>

#include "resources/glyph_geometry.h"

// Seven-segment readout: shows a short text one glyph cell per character, the
// glyphs cut from a glyph strip picture and scaled to fill the control inside
// its sunken frame. A text longer than the cells is shown whole, in narrower cells.
class CDigitST : public QWidget {
    Q_OBJECT
  public:
    explicit CDigitST(QWidget* parent = nullptr);

    // Loads glyph strip ":/images/bitmap_<bitmapId>.png" and sets the number of
    // character cells: 1, or 0 (nothing changed) when the picture is missing or
    // `cells` is not positive.
    int SetStyle(unsigned bitmapId, int cells);
    // Sets the text; a nonzero `redraw` repaints the cells that changed. The only
    // way the readout repaints on its own.
    void SetValue(const QString& text, int redraw);
    // With zero padding on, blank cells in front of the number show as unlit digits
    // rather than bare ground.
    void SetZeroPadding(int enable, int redraw);
    // The number of character cells.
    int GetPrecision() const { return m_nCells; }

    QString GetValue() const { return m_strText; }
    // Where cell `index` of those now shown is drawn, in widget pixels; cells start
    // and end on whole pixels.
    QRectF CellRect(int index) const;

    // Greys the digits out (or back): the value shown may no longer be the instrument's.
    void SetDimmed(bool dimmed);
    bool Dimmed() const { return m_bDimmed; }

    int m_nDecimals = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The glyph strip's cells and the unlit digit after them.
    static constexpr int kGlyphSlots = GlyphGeometry::kCellCount + 1;
    struct ScaledGlyphs {
        QSize size;
        std::array<QPixmap, kGlyphSlots> glyphs;
    };

    QRect GlyphArea() const;
    QRect CellPixels(int index) const;
    const QPixmap& ScaledGlyph(int glyph, QSize size);
    // Lays the text out again and asks for a repaint of the cells that changed.
    void Relayout(bool redraw);

    QImage m_strip;
    QImage m_unlitDigit;
    int m_nCellWidth = 0;
    int m_nCells = 0;
    bool m_bZeroPadding = false;
    bool m_bDimmed = false;
    QString m_strText;
    // The glyph of each cell shown.
    std::vector<int> m_shown;
    // Glyphs scaled to the cell sizes in use (neighbouring cells may differ by a
    // pixel), each scaled once, when first drawn at that size.
    std::vector<ScaledGlyphs> m_scaled;
};
