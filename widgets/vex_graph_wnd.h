#pragma once

#include <QColor>
#include <QWidget>
#include <memory>

#include "widgets/graph_types.h"
#include "widgets/vex_graph.h"

class QToolButton;

// The trend graph window: hosts its graph object m_pGraph, paints it, and offers
// the set-up and series calls of the window. Painting covers the whole client
// area, so no background erase is needed.
class CVexGraphWnd : public QWidget {
    Q_OBJECT
  public:
    explicit CVexGraphWnd(QWidget* parent = nullptr);
    ~CVexGraphWnd() override;

    void SetBkgColor(QColor color);
    // Shows or hides the graph's own "Fit" button, which fits both axes to the data.
    void ShowButtons(int show);
    void SetGraphType(eGraphStyle style);
    void SetXTitle(const QString& title);
    void SetYTitle(const QString& title);
    // Places the graph's own buttons for the current size and repaints.
    void AdjustLayout();

    // Adds a series of n points (it becomes the last series): 1, or 0 when nothing
    // was added.
    virtual int AddSeries(unsigned n, const double* x, const double* y);
    int GetSeriesCount() const;
    // Sets an axis' shown range. The window repaints whenever what it shows changes,
    // so `redraw` asks for nothing more.
    void SetAxisRange(eGraphAxisType axis, double low, double high, int redraw);
    // Removes every series (and repaints if there were any).
    virtual void ResetGraph(int redraw);

    // Paints the whole graph at the painter's origin, at the window's size.
    void Render(QPainter& painter);

    std::unique_ptr<CVexGraph> m_pGraph;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QFont GraphFont() const;

    QColor m_crBackground{255, 255, 255};
    QToolButton* m_pFitButton = nullptr;
};
