#pragma once

#include <QColor>
#include <QImage>
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "widgets/graph_math.h"

// One line of the trend graph: its points in the order they were added.
class CVexGraphSeries {
  public:
    QColor m_crColor{0, 0, 0};
    // Width of the series' line in pixels (and the size of its point marks).
    int m_nLineWidth = 1;

    std::size_t GetCount() const { return m_count; }
    double X(std::size_t index) const {
        return m_blocks[index / kBlockPoints]->x[index % kBlockPoints];
    }
    double Y(std::size_t index) const {
        return m_blocks[index / kBlockPoints]->y[index % kBlockPoints];
    }

    // One coordinate of every point, read by index: XData()[i].
    class Values {
      public:
        double operator[](std::size_t index) const {
            return m_y ? m_series->Y(index) : m_series->X(index);
        }
        std::size_t size() const { return m_series->GetCount(); }

      private:
        friend class CVexGraphSeries;
        Values(const CVexGraphSeries* series, bool y) : m_series(series), m_y(y) {}
        const CVexGraphSeries* m_series;
        bool m_y;
    };
    Values XData() const { return Values(this, false); }
    Values YData() const { return Values(this, true); }

    // The points as consecutive spans, in order.
    std::vector<GraphMath::PointSpan> Spans() const;

    // True while every point's x is at least the one before it.
    bool XNeverDecreases() const { return m_bXNeverDecreases; }

  private:
    friend class CVexGraph;

    // Points are held in blocks that are never moved or copied: a run's series grows
    // by one block at a time instead of doubling a copy of all it holds, and costs at
    // most one block more than its points.
    static constexpr std::size_t kBlockPoints = 4096;
    struct Block {
        std::array<double, kBlockPoints> x;
        std::array<double, kBlockPoints> y;
    };

    void Append(double x, double y);

    std::vector<std::unique_ptr<Block>> m_blocks;
    std::size_t m_count = 0;
    bool m_bXNeverDecreases = true;

    // The vertices the curve was last drawn with, and what they were made from; kept
    // until the points, the axes or the plot change.
    struct CurveKey {
        std::size_t count = 0;
        GraphMath::AxisMapping xMap, yMap;
        int columnLeft = 0, columnRight = -1;
        int width = 0;
        bool antialias = false;
        int style = 0;
        QRgb color = 0;
        bool operator==(const CurveKey& other) const;
    };
    CurveKey m_curveKey;
    bool m_bCurveValid = false;
    std::vector<GraphMath::Vertex> m_curve;
    GraphMath::CurveStrokes m_strokes;
    std::vector<QRect> m_pixels;
    // Anti-aliased, the pen's coverage (its buffers reused from paint to paint) and the
    // curve's pixels in its colour over transparency.
    GraphMath::Coverage m_coverage;
    QImage m_shaded;
    QPoint m_shadedAt;
};
