#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "widgets/graph_types.h"
#include "widgets/graph_view.h"
#include "widgets/vex_graph.h"

class QMenu;
class QToolButton;

// The trend graph window: hosts its graph object m_pGraph, paints it, and offers
// the set-up and series calls of the window. Painting covers the whole client
// area, so no background erase is needed.
//
// The operator can look closer at the time axis: the wheel zooms around the pointer,
// dragging pans, a double click returns to the application's ranges. While zoomed or
// panned the time axis no longer follows the application's range (see
// GraphView::FollowState). Hovering shows a cross-hair on the nearest sample of the first
// series; with Shift held, the differences to a fixed sample (where Shift was pressed,
// or the last click).
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
    // so `redraw` asks for nothing more. While the operator has zoomed or panned the
    // time axis, its range is remembered and shown once they return to it.
    void SetAxisRange(eGraphAxisType axis, double low, double high, int redraw);
    // Removes every series (and repaints if there were any). A new run is followed
    // again from its start.
    virtual void ResetGraph(int redraw);

    // Paints the whole graph at the painter's origin, at the window's size.
    void Render(QPainter& painter);

    // True while the time axis shows the application's range.
    bool IsFollowing() const { return m_follow.following; }

    // The graph's right-click menu: "Save graph as PNG…".
    std::unique_ptr<QMenu> MakeContextMenu();
    // Writes the graph as the window shows it, without the cross-hair, as a PNG file.
    bool SaveImage(const QString& path);

    std::unique_ptr<CVexGraph> m_pGraph;
    // Chooses the file "Save graph as PNG…" writes; empty to cancel. Unset, a file
    // dialog asks.
    std::function<QString()> m_chooseImagePath;
    // A line the saved PNG carries above the graph (which run it shows); none when unset or
    // empty.
    std::function<QString()> m_imageTitle;

  signals:
    // The right-click menu is about to show; its owner may add its own items.
    void ContextMenuAboutToShow(QMenu* menu);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QFont GraphFont() const;
    // What the picture of the graph was painted with that the graph doesn't announce
    // when it changes (display switches, series colours and widths).
    std::vector<int> Look() const;
    void Invalidate();
    // Asks for a repaint of what changed since the last one was asked for: the plot and the
    // time axis' labels while everything around them stays, else the whole graph.
    void RepaintChanged();
    void DrawOverlay(QPainter& painter);
    GraphMath::AxisMapping XMapping() const;
    GraphMath::AxisMapping YMapping() const;
    // The first series' sample nearest in time to pixel column `px`.
    std::optional<std::size_t> SampleAt(int px) const;
    // Shows `range` on the time axis by the operator's choice.
    void ShowByOperator(GraphMath::Range range);
    void ShowAutomatic();
    void SetShift(bool down);
    void SaveImageAs();

    QColor m_crBackground{255, 255, 255};
    QToolButton* m_pFitButton = nullptr;

    GraphView::FollowState m_follow;

    // The last full paint of the graph: hovering only draws the cross-hair over it.
    QPixmap m_picture;
    bool m_bPictureValid = false;
    std::vector<int> m_pictureLook;
    bool m_bShowOverlay = true;
    bool m_bRepaintPending = false;
    // What the graph showed around its plot when a repaint was last asked for.
    std::optional<CVexGraph::Surround> m_shown;

    std::optional<QPoint> m_pointer;         // where the pointer hovers over the plot
    std::optional<std::size_t> m_reference;  // the fixed sample of the differences
    bool m_bShift = false;
    std::optional<QPoint> m_pressedAt;  // left button held since there
    GraphMath::Range m_rangeAtPress{0.0, 0.0};
    bool m_bDragging = false;
};
