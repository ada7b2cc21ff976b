#include "widgets/vex_graph_wnd.h"

#include <QPainter>
#include <QToolButton>

#include "resources/fonts.h"

CVexGraphWnd::CVexGraphWnd(QWidget* parent)
    : QWidget(parent), m_pGraph(std::make_unique<CVexGraph>([this] { update(); })) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_pFitButton = new QToolButton(this);
    m_pFitButton->setText(tr("Fit"));
    m_pFitButton->setAutoRaise(true);
    m_pFitButton->hide();
    connect(m_pFitButton, &QToolButton::clicked, this, [this] { m_pGraph->FitAxesToData(); });
}

CVexGraphWnd::~CVexGraphWnd() = default;

void CVexGraphWnd::SetBkgColor(QColor color) {
    if (color == m_crBackground)
        return;
    m_crBackground = color;
    update();
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
    update();
}

int CVexGraphWnd::AddSeries(unsigned n, const double* x, const double* y) {
    return m_pGraph->AddSeries(n, x, y);
}

int CVexGraphWnd::GetSeriesCount() const {
    return m_pGraph->GetSeriesCount();
}

void CVexGraphWnd::SetAxisRange(eGraphAxisType axis, double low, double high, int /*redraw*/) {
    m_pGraph->SetAxisRange(axis, low, high);
}

void CVexGraphWnd::ResetGraph(int /*redraw*/) {
    m_pGraph->RemoveAllSeries();
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

void CVexGraphWnd::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    Render(painter);
}

void CVexGraphWnd::resizeEvent(QResizeEvent* /*event*/) {
    AdjustLayout();
}
