#pragma once

#include <QString>

class CDigitST;
class CVexGraphWnd;

// The main window's two readouts and its trend graph: their set-up and the
// operations run control uses to show speed, time and the run's speed curve.
// UI thread only.
// The speed graph's look, the window's and a past run's alike: axes, grid, titles.
void SetupSpeedGraph(CVexGraphWnd& window);

class CRunDisplay {
  public:
    CRunDisplay(CDigitST& timeReadout, CDigitST& speedReadout, CVexGraphWnd& graph);

    void SetupReadouts();
    void SetupGraph();

    // The text of `value` for `readout`: its m_nDecimals decimals (none: truncated
    // toward zero), right-aligned in as many characters as it has cells; a longer
    // number is kept whole.
    static QString FormatReadout(CDigitST& readout, float value);

    void ShowSpeed(int speed);
    // Minutes and seconds as "mm:ss" from a time in seconds.
    void ShowTime(int time);
    // As ShowTime, with the colon shown at every other call.
    void ShowBlinkingTime(int time);

    // Empties the graph, so the next point starts a new curve.
    void ResetGraph();
    // Adds (x, speed) to the speed curve, starting the curve at the first point.
    void PlotSpeed(int x, int speed);
    // Shows speeds from speedMin to 2.5 % above speedMax, and samples 0 … largestX + 1.
    void RescaleGraph(float speedMin, float speedMax, double largestX);

    // Colon (0) or blank (1) at the next ShowBlinkingTime; run control sets it to 0
    // at Start.
    int m_nBlink = 0;

  private:
    CDigitST& m_timeReadout;
    CDigitST& m_speedReadout;
    CVexGraphWnd& m_graph;
};
