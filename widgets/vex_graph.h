#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QRegion>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "widgets/graph_math.h"
#include "widgets/graph_types.h"
#include "widgets/text_stamps.h"
#include "widgets/vex_graph_series.h"

class QPainter;

// The trend graph's content and look: series, axes, titles and grid. It draws
// itself into a rectangle; CVexGraphWnd hosts it on screen.
class CVexGraph {
  public:
    // `requestRepaint` is called whenever something visible changed.
    explicit CVexGraph(std::function<void()> requestRepaint = {});

    void SetAxisValueType(eGraphAxisType axis, eAxisValueType type);
    // With recalculation on, a point outside an axis' shown range widens it.
    void EnableAxisRecalculate(eGraphAxisType axis, int enable);
    // The widest range the axis may ever show; shown ranges are clipped to it.
    void SetAxisMaxRange(eGraphAxisType axis, double low, double high);
    void SetAxisGrid(eGraphAxisType axis, int major, int minor);
    void EnableShowTitle(int enable);
    void EnableShowXTitle(int enable);
    void EnableShowYTitle(int enable);
    void SetXTitleColor(QColor color);
    void SetYTitleColor(QColor color);
    QColor GetXTitleColor() const { return AxisOf(eGraphAxisX).titleColor; }
    void SetTitle(const QString& title);
    void SetXTitle(const QString& title);
    void SetYTitle(const QString& title);
    void SetGraphType(eGraphStyle style);

    // Appends (x, y) to series `series`: 1, or 0 for an unknown series or a point
    // that is not finite.
    int AddOneDataOfSeries(int series, double x, double y);
    // The series, or nullptr for an index the graph does not hold.
    CVexGraphSeries* GetSeries(int series);
    const CVexGraphSeries* GetSeries(int series) const;
    int GetSeriesCount() const { return int(m_series.size()); }

    // A new series of n points becomes the last series: 1, or 0 (nothing added)
    // when there are no points or one of them is not finite.
    int AddSeries(unsigned n, const double* x, const double* y);
    void RemoveAllSeries();

    // Sets the shown range, clipped to the axis' maximum range. Bounds that are
    // not finite are ignored.
    void SetAxisRange(eGraphAxisType axis, double low, double high);
    GraphMath::Range GetAxisRange(eGraphAxisType axis) const;
    // Shows all points of all series.
    void FitAxesToData();

    // Paints the graph into `area` on a background of `background`: all of it, or what lies in
    // `exposed` (what else it paints there is clipped away by the painter).
    void Draw(QPainter& painter, const QRect& area, const QColor& background, const QFont& font,
              const QRect& exposed = QRect());

    // What a paint of the graph shows around its plot and the time axis' labels under it, and
    // the part of the area that holds those: while the surround stays the same (a run adding a
    // point a second and widening the time axis), painting that part again is enough.
    struct Surround {
        QRect area;
        QRect plot;
        QFont font;
        QRgb background = 0;
        std::vector<QRgb> colors;
        std::vector<int> switches;
        std::vector<QString> titles;
        std::vector<std::pair<int, QString>> yLabels;  // where each speed label goes, and what
        QRegion changing;
        bool operator==(const Surround& other) const {
            return area == other.area && plot == other.plot && font == other.font &&
                   background == other.background && colors == other.colors &&
                   switches == other.switches && titles == other.titles && yLabels == other.yLabels;
        }
    };
    Surround SurroundOf(const QRect& area, const QColor& background, const QFont& font);
    // The plot rectangle (inside the axes) of the latest Draw.
    QRect PlotArea() const { return m_lastPlot; }

    // Display switches, read at every paint.
    int m_nShowXLabels = 1;     // tick values under the X axis
    int m_nShowYLabels = 1;     // tick values left of the Y axis
    int m_nShowLegend = 1;      // a key of the series in the plot's corner
    int m_nShowPointMarks = 1;  // marks on the points when few enough are shown
    int m_nAntialias = 0;       // curves drawn with anti-aliased edges

  private:
    struct Axis {
        GraphMath::Range range{0.0, 10.0};
        GraphMath::Range maxRange{-1.0e300, 1.0e300};
        eAxisValueType valueType = eAxisValueNumber;
        bool recalculate = false;
        bool majorGrid = false;
        bool minorGrid = false;
        QColor titleColor{0, 0, 0};
        QString title;
    };

    // Where everything goes for a paint of `area`.
    struct Layout {
        int lineHeight = 0;
        GraphMath::Range xRange{0.0, 1.0};
        GraphMath::Range yRange{0.0, 1.0};
        bool showTitle = false;
        bool showXTitle = false;
        bool showYTitle = false;
        QRect plot;
        GraphMath::Ticks xTicks;
        GraphMath::Ticks yTicks;
        int yLabelWidth = 0;
        int xLabelWidth = 0;
        std::vector<QString> yLabels;  // the text of each major speed tick
    };
    // Everything the layout depends on.
    struct LayoutKey {
        QRect area;
        QFont font;
        std::array<double, 4> ranges{};
        std::array<int, 10> settings{};
        bool operator==(const LayoutKey&) const = default;
    };
    // The layout of a paint of `area`, made again only when something it depends on changed:
    // deciding what to repaint and painting it lay out the same graph.
    const Layout& LayOut(const QRect& area, const QFont& font);
    LayoutKey m_layoutKey;
    std::optional<Layout> m_layout;

    Axis& AxisOf(eGraphAxisType axis) { return m_axes[axis == eGraphAxisY ? 1 : 0]; }
    const Axis& AxisOf(eGraphAxisType axis) const { return m_axes[axis == eGraphAxisY ? 1 : 0]; }
    static GraphMath::Range ClipToMax(const Axis& axis, GraphMath::Range range);
    void WidenToInclude(double x, double y);
    void Changed();

    std::function<void()> m_requestRepaint;
    std::vector<std::unique_ptr<CVexGraphSeries>> m_series;
    std::array<Axis, 2> m_axes;
    QString m_title;
    bool m_bShowTitle = true;
    bool m_bShowXTitle = false;
    bool m_bShowYTitle = false;
    eGraphStyle m_style = eGraphStyleLine;
    // Draws `series`' curve (and its marks) in the plot, from what was made for the
    // last paint unless its points, the axes, the plot or the pen changed.
    void DrawCurve(QPainter& painter, CVexGraphSeries& series, const GraphMath::AxisMapping& xMap,
                   const GraphMath::AxisMapping& yMap, const QRect& plot);
    QRect m_lastPlot;
    // Tick labels and titles, laid out once.
    CTextStamps m_textStamps;
};
