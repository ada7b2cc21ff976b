#pragma once

#include <QColor>
#include <cstddef>
#include <vector>

// One line of the trend graph: its points in the order they were added.
class CVexGraphSeries {
  public:
    QColor m_crColor{0, 0, 0};
    // Width of the series' line in pixels (and the size of its point marks).
    int m_nLineWidth = 1;

    std::size_t GetCount() const { return m_x.size(); }
    const double* XData() const { return m_x.data(); }
    const double* YData() const { return m_y.data(); }
    // True while every point's x is at least the one before it.
    bool XNeverDecreases() const { return m_bXNeverDecreases; }

  private:
    friend class CVexGraph;

    void Append(double x, double y) {
        if (!m_x.empty() && x < m_x.back())
            m_bXNeverDecreases = false;
        m_x.push_back(x);
        m_y.push_back(y);
    }

    std::vector<double> m_x;
    std::vector<double> m_y;
    bool m_bXNeverDecreases = true;
};
