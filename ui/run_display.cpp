#include "ui/run_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "resources/palette.h"
#include "resources/string_table.h"
#include "widgets/digit_st.h"
#include "widgets/vex_graph_wnd.h"

namespace {

constexpr unsigned kGlyphStripBitmap = 103;
constexpr int kReadoutCells = 5;
constexpr int kSpeedSeriesLineWidth = 3;
// Padding never makes a readout's text longer than this.
constexpr int kMaxReadoutText = 10;

// Truncation toward zero that stays defined for values no int can hold.
int TruncateToInt(float value) {
    if (std::isnan(value))
        return 0;
    if (value >= float(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= float(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// "%.*f" as the C library writes it (its rounding of exact halves included), at
// any length.
QString FixedPoint(double value, int decimals) {
    const int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    if (length <= 0)
        return QString();
    std::string text(std::size_t(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    text.resize(std::size_t(length));
    return QString::fromStdString(text);
}

}  // namespace

CRunDisplay::CRunDisplay(CDigitST& timeReadout, CDigitST& speedReadout, CVexGraphWnd& graph)
    : m_timeReadout(timeReadout), m_speedReadout(speedReadout), m_graph(graph) {}

void CRunDisplay::SetupReadouts() {
    m_timeReadout.SetStyle(kGlyphStripBitmap, kReadoutCells);
    m_timeReadout.m_nDecimals = 1;
    m_timeReadout.SetValue(QString::asprintf("%02d:%02d", 1, 11), 1);
    m_timeReadout.SetZeroPadding(1, 1);

    m_speedReadout.SetStyle(kGlyphStripBitmap, kReadoutCells);
    m_speedReadout.m_nDecimals = 0;
    m_speedReadout.SetValue(FormatReadout(m_speedReadout, 500.0f), 1);
    m_speedReadout.SetZeroPadding(1, 1);
}

void SetupSpeedGraph(CVexGraphWnd& window) {
    CVexGraph& graph = *window.m_pGraph;
    window.SetBkgColor(Palette::kBackground);
    graph.SetAxisValueType(eGraphAxisY, eAxisValueNumber);
    graph.m_nShowXLabels = 1;
    graph.m_nShowYLabels = 1;
    graph.m_nShowLegend = 0;
    window.ShowButtons(0);
    graph.m_nShowPointMarks = 0;
    graph.EnableAxisRecalculate(eGraphAxisX, 0);
    graph.EnableAxisRecalculate(eGraphAxisY, 1);
    graph.SetAxisMaxRange(eGraphAxisY, 0.0, 9.0e11);
    graph.SetAxisMaxRange(eGraphAxisX, 0.0, 1.0e6);
    window.SetGraphType(eGraphStyleLine);
    graph.SetAxisGrid(eGraphAxisX, 1, 1);
    graph.SetAxisGrid(eGraphAxisY, 1, 1);
    graph.EnableShowTitle(0);
    graph.EnableShowXTitle(1);
    graph.EnableShowYTitle(1);
    graph.SetXTitleColor(Palette::kLightText);
    graph.SetYTitleColor(Palette::kLightText);
    window.SetXTitle(LoadStringResource(IDS_TIME_TITLE_3));
    window.SetYTitle(LoadStringResource(IDS_SPEED_TITLE));
    window.AdjustLayout();
}

void CRunDisplay::SetupGraph() {
    SetupSpeedGraph(m_graph);
}

QString CRunDisplay::FormatReadout(CDigitST& readout, float value) {
    const int decimals = readout.m_nDecimals;
    const int cells = readout.GetPrecision();
    QString number =
        decimals == 0 ? QString::number(TruncateToInt(value)) : FixedPoint(double(value), decimals);
    // A number is never cut: a longer one is shown whole, in narrower cells. Only the
    // padding stops at the readout's longest text.
    const int width = std::clamp(cells, 0, kMaxReadoutText);
    return number.rightJustified(width, u' ');
}

void CRunDisplay::ShowSpeed(int speed) {
    m_speedReadout.SetValue(FormatReadout(m_speedReadout, static_cast<float>(speed)), 1);
}

void CRunDisplay::ShowTime(int time) {
    m_timeReadout.SetValue(QString::asprintf("%02d:%02d", time / 60, time % 60), 1);
}

void CRunDisplay::ShowBlinkingTime(int time) {
    const char* format = m_nBlink == 0 ? "%02d:%02d" : "%02d %02d";
    m_timeReadout.SetValue(QString::asprintf(format, time / 60, time % 60), 1);
    m_nBlink = m_nBlink == 0 ? 1 : 0;
}

void CRunDisplay::ResetGraph() {
    m_graph.ResetGraph(1);
}

void CRunDisplay::PlotSpeed(int x, int speed) {
    if (m_graph.GetSeriesCount() > 0) {
        m_graph.m_pGraph->AddOneDataOfSeries(0, x, speed);
        return;
    }
    const double xs[1] = {double(x)};
    const double ys[1] = {double(speed)};
    m_graph.AddSeries(1, xs, ys);
    // The series may not exist if the graph refused the point.
    if (CVexGraphSeries* series = m_graph.m_pGraph->GetSeries(0)) {
        series->m_nLineWidth = kSpeedSeriesLineWidth;
        series->m_crColor = Palette::kSpeedCurve;
    }
}

void CRunDisplay::RescaleGraph(float speedMin, float speedMax, double largestX) {
    const double low = speedMin;
    const double high = (double(speedMax) - double(speedMin)) * 0.025 + double(speedMax);
    m_graph.SetAxisRange(eGraphAxisY, low, high, 1);
    // The graph repaints what the new ranges change.
    m_graph.SetAxisRange(eGraphAxisX, 0.0, largestX + 1.0, 1);
}
