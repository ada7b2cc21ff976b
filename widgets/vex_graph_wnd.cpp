#include "widgets/vex_graph_wnd.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

#include "resources/fonts.h"
#include "widgets/device_text.h"

namespace {

// One wheel notch (120 eighths of a degree) shows this share of the range.
constexpr double kZoomPerNotch = 0.8;

QString NumberText(double value) {
    return value == std::round(value) && std::abs(value) < 1e15 ? QString::number(qint64(value))
                                                                : QString::number(value, 'g', 6);
}

}  // namespace

CVexGraphWnd::CVexGraphWnd(QWidget* parent)
    : QWidget(parent), m_pGraph(std::make_unique<CVexGraph>([this] { Invalidate(); })) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    m_pFitButton = new QToolButton(this);
    m_pFitButton->setText(tr("Fit"));
    m_pFitButton->setAutoRaise(true);
    m_pFitButton->hide();
    connect(m_pFitButton, &QToolButton::clicked, this, [this] { m_pGraph->FitAxesToData(); });
}

CVexGraphWnd::~CVexGraphWnd() = default;

void CVexGraphWnd::Invalidate() {
    m_bPictureValid = false;
    if (m_bRepaintPending)
        return;
    // A run's second changes the graph three times (a point, both ranges): what to paint
    // again is decided once, after them.
    m_bRepaintPending = true;
    QMetaObject::invokeMethod(
        this, [this] { RepaintChanged(); }, Qt::QueuedConnection);
}

void CVexGraphWnd::RepaintChanged() {
    m_bRepaintPending = false;
    CVexGraph::Surround now = m_pGraph->SurroundOf(rect(), m_crBackground, GraphFont());
    if (m_shown && *m_shown == now)
        update(now.changing);
    else
        update();
    m_shown = std::move(now);
}

void CVexGraphWnd::SetBkgColor(QColor color) {
    if (color == m_crBackground)
        return;
    m_crBackground = color;
    Invalidate();
}

void CVexGraphWnd::ShowButtons(int show) {
    if (m_pFitButton->isVisibleTo(this) == (show != 0))
        return;
    m_pFitButton->setVisible(show != 0);
    AdjustLayout();
}

void CVexGraphWnd::SetGraphType(eGraphStyle style) {
    m_pGraph->SetGraphType(style);
}

void CVexGraphWnd::SetXTitle(const QString& title) {
    m_pGraph->SetXTitle(title);
}

void CVexGraphWnd::SetYTitle(const QString& title) {
    m_pGraph->SetYTitle(title);
}

void CVexGraphWnd::AdjustLayout() {
    m_pFitButton->setFont(GraphFont());
    const QSize hint = m_pFitButton->sizeHint();
    m_pFitButton->setGeometry(width() - hint.width() - 2, 2, hint.width(), hint.height());
    Invalidate();
}

int CVexGraphWnd::AddSeries(unsigned n, const double* x, const double* y) {
    return m_pGraph->AddSeries(n, x, y);
}

int CVexGraphWnd::GetSeriesCount() const {
    return m_pGraph->GetSeriesCount();
}

void CVexGraphWnd::SetAxisRange(eGraphAxisType axis, double low, double high, int /*redraw*/) {
    if (axis == eGraphAxisX) {
        if (!std::isfinite(low) || !std::isfinite(high))
            return;
        GraphView::SetAutomatic(m_follow, {low, high});
        if (!m_follow.following)
            return;
    }
    m_pGraph->SetAxisRange(axis, low, high);
}

void CVexGraphWnd::ResetGraph(int /*redraw*/) {
    m_pGraph->RemoveAllSeries();
    m_reference.reset();
    if (!m_follow.following)
        ShowAutomatic();
}

void CVexGraphWnd::ShowByOperator(GraphMath::Range range) {
    // While following, what the axis shows is the application's range, whoever set it.
    if (m_follow.following) {
        const GraphMath::Range shown = m_pGraph->GetAxisRange(eGraphAxisX);
        m_follow.automatic = m_follow.shown = shown;
    }
    GraphView::SetByOperator(m_follow, range);
    m_pGraph->SetAxisRange(eGraphAxisX, m_follow.shown.low, m_follow.shown.high);
}

void CVexGraphWnd::ShowAutomatic() {
    GraphView::Restore(m_follow);
    m_pGraph->SetAxisRange(eGraphAxisX, m_follow.shown.low, m_follow.shown.high);
}

void CVexGraphWnd::Render(QPainter& painter) {
    m_pGraph->Draw(painter, rect(), m_crBackground, GraphFont());
}

QFont CVexGraphWnd::GraphFont() const {
    // Tick values and titles are small: unless asked otherwise they are drawn crisp, on
    // whole pixels in their colour, as a Windows graph draws them, and the same on every
    // machine whatever its font smoothing settings.
    QFont graphFont = ResolveWidgetFont(font());
    if (graphFont.styleStrategy() == QFont::PreferDefault)
        graphFont.setStyleStrategy(QFont::NoAntialias);
    if (graphFont.hintingPreference() == QFont::PreferDefaultHinting)
        graphFont.setHintingPreference(QFont::PreferFullHinting);
    return graphFont;
}

std::vector<int> CVexGraphWnd::Look() const {
    const CVexGraph& g = *m_pGraph;
    std::vector<int> look{g.m_nShowXLabels, g.m_nShowYLabels, g.m_nShowLegend, g.m_nShowPointMarks,
                          g.m_nAntialias};
    for (int i = 0; i < g.GetSeriesCount(); ++i) {
        look.push_back(int(g.GetSeries(i)->m_crColor.rgba()));
        look.push_back(g.GetSeries(i)->m_nLineWidth);
    }
    return look;
}

void CVexGraphWnd::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    std::vector<int> look = Look();
    const bool kept = m_bPictureValid && m_picture.size() == pixels &&
                      m_picture.devicePixelRatio() == ratio && look == m_pictureLook;
    if (!kept && !(m_bShowOverlay && m_pointer)) {
        // Nothing hovers over the graph (a run's updates): it is drawn straight onto the
        // window, without a copy of the whole area, and kept only once the pointer moves in.
        m_bPictureValid = false;
        QPainter painter(this);
        m_pGraph->Draw(painter, rect(), m_crBackground, GraphFont(), event->rect());
        return;
    }
    if (!kept) {
        if (m_picture.size() != pixels)
            m_picture = QPixmap(pixels);
        m_picture.setDevicePixelRatio(ratio);
        QPainter picture(&m_picture);
        Render(picture);
        m_bPictureValid = true;
        m_pictureLook = std::move(look);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
    if (m_bShowOverlay)
        DrawOverlay(painter);
}

GraphMath::AxisMapping CVexGraphWnd::XMapping() const {
    const QRect plot = m_pGraph->PlotArea();
    const GraphMath::Range x = m_pGraph->GetAxisRange(eGraphAxisX);
    const GraphMath::Range usable = GraphMath::UsableRange(x.low, x.high);
    return GraphMath::AxisMapping::Make(usable.low, usable.high, plot.left(),
                                        plot.left() + plot.width());
}

GraphMath::AxisMapping CVexGraphWnd::YMapping() const {
    const QRect plot = m_pGraph->PlotArea();
    const GraphMath::Range y = m_pGraph->GetAxisRange(eGraphAxisY);
    const GraphMath::Range usable = GraphMath::UsableRange(y.low, y.high);
    return GraphMath::AxisMapping::Make(usable.low, usable.high, plot.top() + plot.height(),
                                        plot.top());
}

std::optional<std::size_t> CVexGraphWnd::SampleAt(int px) const {
    const CVexGraphSeries* series = m_pGraph->GetSeries(0);
    if (series == nullptr || !series->XNeverDecreases())
        return std::nullopt;
    // The centre of the pixel column, where the curve draws the column's samples.
    return GraphView::NearestIndex(series->XData(), XMapping().ToValue(px + 0.5));
}

void CVexGraphWnd::DrawOverlay(QPainter& painter) {
    const QRect plot = m_pGraph->PlotArea();
    if (!m_pointer || !plot.contains(*m_pointer))
        return;
    const CVexGraphSeries* series = m_pGraph->GetSeries(0);
    const std::optional<std::size_t> sample = SampleAt(m_pointer->x());
    const auto xMap = XMapping();
    const auto yMap = YMapping();
    const auto pointOf = [&](std::size_t index) {
        // The pixel the curve draws the sample in (not the nearest corner of its centre).
        const QPointF centre =
            GraphMath::PixelCentre(xMap, yMap, series->X(index), series->Y(index));
        return QPoint(int(std::floor(centre.x())), int(std::floor(centre.y())));
    };
    const QPoint at = sample ? pointOf(*sample) : *m_pointer;

    // Lines in the axes' text colour toned down into the background, one pixel wide on
    // whole pixels: light on the window's dark background, and cheap to draw.
    const QColor text = m_pGraph->GetXTitleColor();
    const auto mix = [&](double share) {
        const auto channel = [&](int a, int b) { return int(std::lround(a + (b - a) * share)); };
        return QColor(channel(m_crBackground.red(), text.red()),
                      channel(m_crBackground.green(), text.green()),
                      channel(m_crBackground.blue(), text.blue()));
    };
    const QRect inside = plot.adjusted(1, 1, -1, -1);
    painter.save();
    painter.setClipRect(inside);
    painter.setPen(QPen(mix(0.7), 0));
    painter.drawLine(at.x(), inside.top(), at.x(), inside.bottom());
    painter.drawLine(inside.left(), at.y(), inside.right(), at.y());

    QStringList lines;
    if (sample) {
        lines << tr("Sample %1").arg(NumberText(series->X(*sample)))
              << tr("Speed %1").arg(NumberText(series->Y(*sample)));
        const bool withReference = m_bShift && m_reference && *m_reference < series->GetCount();
        if (withReference) {
            const QPoint fixed = pointOf(*m_reference);
            painter.setPen(QPen(mix(0.45), 0, Qt::DashLine));
            painter.drawLine(fixed.x(), inside.top(), fixed.x(), inside.bottom());
            painter.fillRect(fixed.x() - 2, fixed.y() - 2, 5, 5, text);
            const double dx = series->X(*sample) - series->X(*m_reference);
            const double dy = series->Y(*sample) - series->Y(*m_reference);
            lines << tr("\u0394 samples %1").arg(NumberText(dx))
                  << tr("\u0394 speed %1%2").arg(dy > 0 ? "+" : "").arg(NumberText(dy));
        }
        painter.fillRect(at.x() - 2, at.y() - 2, 5, 5, text);
    }
    if (!lines.isEmpty()) {
        const QFont font = GraphFont();
        const QFontMetrics metrics(font);
        int textWidth = 0;
        for (const QString& line : lines)
            textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
        const int pad = 4;
        QRect box(0, 0, textWidth + 2 * pad, int(lines.size()) * metrics.height() + 2 * pad);
        // Up and to the right of the point, turned to the other side near the plot's edges.
        box.moveBottomLeft(at + QPoint(10, -10));
        if (box.right() > inside.right())
            box.moveRight(at.x() - 10);
        if (box.top() < inside.top())
            box.moveTop(at.y() + 10);
        painter.setFont(font);
        painter.fillRect(box, m_crBackground);
        painter.setPen(QPen(mix(0.7), 0));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setPen(text);
        DrawDeviceText(painter, box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::AlignTop,
                       lines.join('\n'));
    }
    painter.restore();
}

void CVexGraphWnd::resizeEvent(QResizeEvent* /*event*/) {
    AdjustLayout();
}

void CVexGraphWnd::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        Invalidate();
    QWidget::changeEvent(event);
}

void CVexGraphWnd::wheelEvent(QWheelEvent* event) {
    const QPoint at = event->position().toPoint();
    const int notches = event->angleDelta().y();
    if (!m_pGraph->PlotArea().contains(at) || notches == 0) {
        event->ignore();
        return;
    }
    const double factor = std::pow(kZoomPerNotch, notches / 120.0);
    const double anchor = XMapping().ToValue(at.x());
    const GraphMath::Range limit =
        m_follow.following ? m_pGraph->GetAxisRange(eGraphAxisX) : m_follow.automatic;
    ShowByOperator(
        GraphView::ZoomAround(m_pGraph->GetAxisRange(eGraphAxisX), factor, anchor, limit));
    event->accept();
}

void CVexGraphWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pGraph->PlotArea().contains(event->pos())) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressedAt = event->pos();
    m_rangeAtPress = m_pGraph->GetAxisRange(eGraphAxisX);
    m_bDragging = false;
}

void CVexGraphWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->pos();
    if (m_pressedAt && (event->buttons() & Qt::LeftButton)) {
        if (!m_bDragging &&
            (at - *m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
            m_bDragging = true;
            setCursor(Qt::ClosedHandCursor);
        }
        if (m_bDragging) {
            const GraphMath::Range limit = m_follow.following ? m_rangeAtPress : m_follow.automatic;
            ShowByOperator(GraphView::PanByPixels(m_rangeAtPress, at.x() - m_pressedAt->x(),
                                                  m_pGraph->PlotArea().width(), limit));
        }
    }
    m_pointer = at;
    SetShift(event->modifiers() & Qt::ShiftModifier);
    update();
}

void CVexGraphWnd::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressedAt) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (!m_bDragging) {
        // A click fixes the sample the differences are measured from.
        if (const auto sample = SampleAt(event->pos().x()))
            m_reference = sample;
        update();
    }
    m_pressedAt.reset();
    m_bDragging = false;
    unsetCursor();
}

void CVexGraphWnd::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    ShowAutomatic();
}

void CVexGraphWnd::enterEvent(QEnterEvent* event) {
    // Shift goes to whichever widget has the keyboard focus; the graph wants to know
    // while the pointer is over it.
    qApp->installEventFilter(this);
    QWidget::enterEvent(event);
}

void CVexGraphWnd::leaveEvent(QEvent* event) {
    qApp->removeEventFilter(this);
    m_pointer.reset();
    update();
    QWidget::leaveEvent(event);
}

bool CVexGraphWnd::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Shift && !key->isAutoRepeat())
            SetShift(event->type() == QEvent::KeyPress);
    }
    return QWidget::eventFilter(watched, event);
}

void CVexGraphWnd::SetShift(bool down) {
    if (down == m_bShift)
        return;
    m_bShift = down;
    // Pressing Shift fixes the sample under the pointer.
    if (down && m_pointer && m_pGraph->PlotArea().contains(*m_pointer)) {
        if (const auto sample = SampleAt(m_pointer->x()))
            m_reference = sample;
    }
    update();
}

std::unique_ptr<QMenu> CVexGraphWnd::MakeContextMenu() {
    auto menu = std::make_unique<QMenu>(this);
    QAction* save = menu->addAction(tr("Save graph as PNG\u2026"));
    connect(save, &QAction::triggered, this, &CVexGraphWnd::SaveImageAs);
    emit ContextMenuAboutToShow(menu.get());
    return menu;
}

// The graph has a menu of its own, so the window's menu doesn't show over it.
void CVexGraphWnd::contextMenuEvent(QContextMenuEvent* event) {
    MakeContextMenu()->exec(event->globalPos());
    event->accept();
}

bool CVexGraphWnd::SaveImage(const QString& path) {
    m_bShowOverlay = false;
    const QPixmap graph = grab();
    m_bShowOverlay = true;
    const QString title = m_imageTitle ? m_imageTitle() : QString();
    if (title.isEmpty()) {
        return graph.save(path, "PNG");
    }
    // The title in a band of the graph's background above it, in the graph's pixels.
    const QFontMetrics metrics(font());
    const int band = metrics.height() + 8;
    QPixmap image(graph.width(), graph.height() + band * graph.devicePixelRatio());
    image.setDevicePixelRatio(graph.devicePixelRatio());
    image.fill(m_crBackground);
    QPainter painter(&image);
    painter.setPen(m_pGraph->GetXTitleColor());
    DrawDeviceText(painter, QRect(6, 0, width() - 12, band), Qt::AlignLeft | Qt::AlignVCenter,
                   metrics.elidedText(title, Qt::ElideRight, width() - 12));
    painter.drawPixmap(QPoint(0, band), graph);
    painter.end();
    return image.save(path, "PNG");
}

void CVexGraphWnd::SaveImageAs() {
    QString path;
    if (m_chooseImagePath) {
        path = m_chooseImagePath();
    } else {
        QFileDialog dialog(this, tr("Save graph as PNG"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("png"));
        dialog.setNameFilter(QStringLiteral("*.png"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return;
    if (!SaveImage(path))
        QMessageBox::warning(this, tr("Save graph as PNG"),
                             tr("The graph could not be written to %1.").arg(path));
}
