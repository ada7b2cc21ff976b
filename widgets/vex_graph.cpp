#include "widgets/vex_graph.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

CVexGraph::CVexGraph(std::function<void()> requestRepaint)
    : m_requestRepaint(std::move(requestRepaint)) {}

void CVexGraph::Changed() {
    if (m_requestRepaint)
        m_requestRepaint();
}

void CVexGraph::SetAxisValueType(eGraphAxisType axis, eAxisValueType type) {
    Axis& a = AxisOf(axis);
    if (a.valueType == type)
        return;
    a.valueType = type;
    Changed();
}

void CVexGraph::EnableAxisRecalculate(eGraphAxisType axis, int enable) {
    AxisOf(axis).recalculate = enable != 0;
}

void CVexGraph::SetAxisMaxRange(eGraphAxisType axis, double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high))
        return;
    if (low > high)
        std::swap(low, high);
    Axis& a = AxisOf(axis);
    if (a.maxRange.low == low && a.maxRange.high == high)
        return;
    a.maxRange = {low, high};
    const GraphMath::Range clipped = ClipToMax(a, a.range);
    if (clipped.low != a.range.low || clipped.high != a.range.high) {
        a.range = clipped;
        Changed();
    }
}

void CVexGraph::SetAxisGrid(eGraphAxisType axis, int major, int minor) {
    Axis& a = AxisOf(axis);
    if (a.majorGrid == (major != 0) && a.minorGrid == (minor != 0))
        return;
    a.majorGrid = major != 0;
    a.minorGrid = minor != 0;
    Changed();
}

void CVexGraph::EnableShowTitle(int enable) {
    if (m_bShowTitle == (enable != 0))
        return;
    m_bShowTitle = enable != 0;
    Changed();
}

void CVexGraph::EnableShowXTitle(int enable) {
    if (m_bShowXTitle == (enable != 0))
        return;
    m_bShowXTitle = enable != 0;
    Changed();
}

void CVexGraph::EnableShowYTitle(int enable) {
    if (m_bShowYTitle == (enable != 0))
        return;
    m_bShowYTitle = enable != 0;
    Changed();
}

void CVexGraph::SetXTitleColor(QColor color) {
    Axis& a = AxisOf(eGraphAxisX);
    if (a.titleColor == color)
        return;
    a.titleColor = color;
    Changed();
}

void CVexGraph::SetYTitleColor(QColor color) {
    Axis& a = AxisOf(eGraphAxisY);
    if (a.titleColor == color)
        return;
    a.titleColor = color;
    Changed();
}

void CVexGraph::SetTitle(const QString& title) {
    if (m_title == title)
        return;
    m_title = title;
    Changed();
}

void CVexGraph::SetXTitle(const QString& title) {
    Axis& a = AxisOf(eGraphAxisX);
    if (a.title == title)
        return;
    a.title = title;
    Changed();
}

void CVexGraph::SetYTitle(const QString& title) {
    Axis& a = AxisOf(eGraphAxisY);
    if (a.title == title)
        return;
    a.title = title;
    Changed();
}

void CVexGraph::SetGraphType(eGraphStyle style) {
    if (m_style == style)
        return;
    m_style = style;
    Changed();
}

CVexGraphSeries* CVexGraph::GetSeries(int series) {
    if (series < 0 || series >= GetSeriesCount())
        return nullptr;
    return m_series[std::size_t(series)].get();
}

const CVexGraphSeries* CVexGraph::GetSeries(int series) const {
    if (series < 0 || series >= GetSeriesCount())
        return nullptr;
    return m_series[std::size_t(series)].get();
}

int CVexGraph::AddOneDataOfSeries(int series, double x, double y) {
    CVexGraphSeries* target = GetSeries(series);
    if (target == nullptr || !std::isfinite(x) || !std::isfinite(y))
        return 0;
    target->Append(x, y);
    WidenToInclude(x, y);
    Changed();
    return 1;
}

int CVexGraph::AddSeries(unsigned n, const double* x, const double* y) {
    if (n == 0 || x == nullptr || y == nullptr)
        return 0;
    for (unsigned i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]))
            return 0;
    }
    auto series = std::make_unique<CVexGraphSeries>();
    for (unsigned i = 0; i < n; ++i)
        series->Append(x[i], y[i]);
    m_series.push_back(std::move(series));
    for (unsigned i = 0; i < n; ++i)
        WidenToInclude(x[i], y[i]);
    Changed();
    return 1;
}

void CVexGraph::RemoveAllSeries() {
    if (m_series.empty())
        return;
    m_series.clear();
    Changed();
}

GraphMath::Range CVexGraph::ClipToMax(const Axis& axis, GraphMath::Range range) {
    range.low = std::max(range.low, axis.maxRange.low);
    range.high = std::min(range.high, axis.maxRange.high);
    if (range.low > range.high)
        range.high = range.low;
    return range;
}

void CVexGraph::SetAxisRange(eGraphAxisType axis, double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high))
        return;
    if (low > high)
        std::swap(low, high);
    Axis& a = AxisOf(axis);
    const GraphMath::Range clipped = ClipToMax(a, {low, high});
    if (clipped.low == a.range.low && clipped.high == a.range.high)
        return;
    a.range = clipped;
    Changed();
}

GraphMath::Range CVexGraph::GetAxisRange(eGraphAxisType axis) const {
    return AxisOf(axis).range;
}

void CVexGraph::WidenToInclude(double x, double y) {
    const auto widen = [](Axis& a, double v) {
        if (!a.recalculate || (v >= a.range.low && v <= a.range.high))
            return;
        a.range = ClipToMax(a, {std::min(a.range.low, v), std::max(a.range.high, v)});
    };
    widen(AxisOf(eGraphAxisX), x);
    widen(AxisOf(eGraphAxisY), y);
}

void CVexGraph::FitAxesToData() {
    double lowX = std::numeric_limits<double>::infinity(), highX = -lowX;
    double lowY = lowX, highY = -lowX;
    for (const auto& series : m_series) {
        for (std::size_t i = 0; i < series->GetCount(); ++i) {
            lowX = std::min(lowX, series->X(i));
            highX = std::max(highX, series->X(i));
            lowY = std::min(lowY, series->Y(i));
            highY = std::max(highY, series->Y(i));
        }
    }
    if (lowX > highX)
        return;
    SetAxisRange(eGraphAxisX, lowX, highX);
    SetAxisRange(eGraphAxisY, lowY, highY);
}
