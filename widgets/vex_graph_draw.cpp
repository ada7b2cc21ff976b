#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cmath>

#include "widgets/device_text.h"
#include "widgets/vex_graph.h"

namespace {

constexpr int kGap = 4;
constexpr int kOuterMargin = 6;

QString TickText(double value, double step, eAxisValueType type) {
    return QString::fromStdString(GraphMath::FormatTickLabel(value, step, int(type)));
}

// `color` laid over `ground` with the given opacity, as an opaque colour.
QColor Mix(const QColor& ground, const QColor& color, double opacity) {
    const auto channel = [&](int a, int b) { return int(std::lround(a + (b - a) * opacity)); };
    return QColor(channel(ground.red(), color.red()), channel(ground.green(), color.green()),
                  channel(ground.blue(), color.blue()));
}

// Qt hands a fill of more than about a hundred rows to its thread pool; for fills as
// light as a graph's background and grid the hand-off costs more than the fill, so they
// are filled in bands below that.
void FillInBands(QPainter& painter, const QRect& area, const QBrush& brush) {
    constexpr int kBandRows = 64;
    for (int top = area.top(); top <= area.bottom(); top += kBandRows)
        painter.fillRect(
            QRect(area.left(), top, area.width(), std::min(kBandRows, area.bottom() - top + 1)),
            brush);
}

// `area` but for `hole` (inside it), in up to four bands.
void FillAround(QPainter& painter, const QRect& area, const QRect& hole, const QBrush& brush) {
    FillInBands(painter, QRect(area.left(), area.top(), area.width(), hole.top() - area.top()),
                brush);
    FillInBands(painter,
                QRect(area.left(), hole.bottom() + 1, area.width(), area.bottom() - hole.bottom()),
                brush);
    FillInBands(painter, QRect(area.left(), hole.top(), hole.left() - area.left(), hole.height()),
                brush);
    FillInBands(painter,
                QRect(hole.right() + 1, hole.top(), area.right() - hole.right(), hole.height()),
                brush);
}

// Curves stay inside the plot's frame. (A plot too small for one is clipped as Qt clips
// to a reversed rectangle: turned the right way round.)
QRect CurveClip(const QRect& plot) {
    return plot.adjusted(1, 1, -1, -1);
}

// Square marks of `size` pixels centred on the points.
void DrawMarks(QPainter& painter, const QPointF* points, int count, const QColor& color, int size) {
    for (int i = 0; i < count; ++i) {
        const QPoint centre = points[i].toPoint();
        painter.fillRect(centre.x() - size / 2, centre.y() - size / 2, size, size, color);
    }
}

// The curve's coverage as `color` over transparency, each pixel as opaque as the share of
// its samples the pen covers.
QImage Shaded(const GraphMath::Coverage& coverage, const QColor& color) {
    if (coverage.bounds.isEmpty())
        return {};
    std::array<QRgb, GraphMath::kCoverageSamples + 1> shades;
    for (int n = 0; n <= GraphMath::kCoverageSamples; ++n) {
        const int alpha =
            (n * color.alpha() + GraphMath::kCoverageSamples / 2) / GraphMath::kCoverageSamples;
        shades[std::size_t(n)] =
            qPremultiply(qRgba(color.red(), color.green(), color.blue(), alpha));
    }
    QImage image(coverage.bounds.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const int width = coverage.bounds.width();
    for (int y = 0; y < coverage.bounds.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::uint8_t* level = coverage.level.data() + std::size_t(y) * std::size_t(width);
        const GraphMath::Coverage::Span span = coverage.rows[std::size_t(y)];
        for (int x = span.first; x <= span.last; ++x)
            line[x] = shades[level[x]];
    }
    return image;
}

// Minor tick values between (not on) the major ticks, inside the range.
template <typename Visit>
void ForEachMinor(const GraphMath::Ticks& ticks, GraphMath::Range range, Visit visit) {
    if (ticks.step <= 0.0 || ticks.minorPerMajor < 2)
        return;
    const double minor = ticks.step / ticks.minorPerMajor;
    const double first = std::ceil(range.low / minor - 1e-9);
    const double last = std::floor(range.high / minor + 1e-9);
    if (!(last - first < 1000.0))
        return;
    for (double k = first; k <= last; k += 1.0) {
        if (std::fmod(std::abs(k), double(ticks.minorPerMajor)) != 0.0)
            visit(k * minor);
    }
}

}  // namespace

void CVexGraph::DrawCurve(QPainter& painter, CVexGraphSeries& series,
                          const GraphMath::AxisMapping& xMap, const GraphMath::AxisMapping& yMap,
                          const QRect& plot) {
    const int width = std::clamp(series.m_nLineWidth, 1, 16);
    CVexGraphSeries::CurveKey key;
    key.count = series.GetCount();
    key.xMap = xMap;
    key.yMap = yMap;
    key.columnLeft = plot.left();
    key.columnRight = plot.left() + plot.width() - 1;
    key.width = width;
    key.antialias = m_nAntialias != 0;
    key.style = int(m_style);
    key.color = series.m_crColor.rgba();
    // Anti-aliased curves are shaded in device pixels; where the painter scales, Qt's pen
    // draws them.
    const QTransform toDevice = painter.deviceTransform();
    const bool shade = key.antialias && toDevice.type() <= QTransform::TxTranslate &&
                       toDevice.dx() == std::round(toDevice.dx()) &&
                       toDevice.dy() == std::round(toDevice.dy());
    // Qt outlines a wide pen's polyline and fills the outline as one shape, whose every
    // column doubles back on itself: slow, and its edges follow the points kept; its
    // separate lines each cost an outline too. The curve is instead the pixels whose
    // centres lie within the pen's reach, found exactly, or anti-aliased, each pixel
    // shaded by the share of its samples within that reach: both depend only on where
    // the pen reaches, which the decimated curve keeps.
    if (!series.m_bCurveValid || !(series.m_curveKey == key)) {
        const std::vector<GraphMath::PointSpan> spans = series.Spans();
        GraphMath::DecimateToColumns(spans.data(), spans.size(), xMap, yMap, key.columnLeft,
                                     key.columnRight, series.m_curve, series.XNeverDecreases());
        series.m_strokes = {};
        series.m_pixels.clear();
        series.m_shaded = QImage();
        if (m_style == eGraphStyleLine && series.m_curve.size() > 1) {
            // A column's stretch is one vertical line, however often the curve runs
            // along it.
            GraphMath::SplitCurve(series.m_curve, series.m_strokes);
            if (!key.antialias) {
                std::vector<QRect> pieces;
                GraphMath::StrokeLinePixels(series.m_strokes.within, width, pieces);
                GraphMath::StrokeLinePixels(series.m_strokes.between, width, pieces);
                GraphMath::RowRuns(pieces, CurveClip(plot).normalized(), series.m_pixels);
            } else {
                GraphMath::StrokeCoverage(series.m_strokes, width, CurveClip(plot).normalized(),
                                          series.m_coverage);
                series.m_shaded = Shaded(series.m_coverage, series.m_crColor);
                series.m_shadedAt = series.m_coverage.bounds.topLeft();
            }
        }
        series.m_curveKey = key;
        series.m_bCurveValid = true;
    }
    const std::vector<GraphMath::Vertex>& curve = series.m_curve;
    if (curve.empty())
        return;
    const QPointF* points = curve.data();
    const int count = int(curve.size());
    if (m_style == eGraphStyleLine && count > 1) {
        if (shade) {
            if (!series.m_shaded.isNull())
                painter.drawImage(series.m_shadedAt, series.m_shaded);
        } else if (key.antialias) {
            painter.setPen(
                QPen(series.m_crColor, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawLines(series.m_strokes.within.data(), int(series.m_strokes.within.size()));
            painter.drawLines(series.m_strokes.between.data(),
                              int(series.m_strokes.between.size()));
        } else {
            painter.setPen(Qt::NoPen);
            painter.setBrush(series.m_crColor);
            painter.drawRects(series.m_pixels.data(), int(series.m_pixels.size()));
            painter.setBrush(Qt::NoBrush);
        }
    }
    // Marks where each point can be told apart, and always for a lone point.
    const bool fewPoints = series.GetCount() == curve.size() && count * 6 <= plot.width();
    if (m_style == eGraphStylePoints || count == 1 || (m_nShowPointMarks && fewPoints))
        DrawMarks(painter, points, count, series.m_crColor, width + 2);
}

const CVexGraph::Layout& CVexGraph::LayOut(const QRect& area, const QFont& font) {
    const Axis& xAxis = AxisOf(eGraphAxisX);
    const Axis& yAxis = AxisOf(eGraphAxisY);
    LayoutKey key{area,
                  font,
                  {xAxis.range.low, xAxis.range.high, yAxis.range.low, yAxis.range.high},
                  {int(xAxis.valueType), int(yAxis.valueType), m_nShowXLabels, m_nShowYLabels,
                   m_bShowTitle, m_bShowXTitle, m_bShowYTitle, m_title.isEmpty(),
                   xAxis.title.isEmpty(), yAxis.title.isEmpty()}};
    if (m_layout && key == m_layoutKey)
        return *m_layout;
    m_layoutKey = std::move(key);
    Layout& layout = m_layout.emplace();
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    layout.lineHeight = lineHeight;
    layout.xRange = GraphMath::UsableRange(xAxis.range.low, xAxis.range.high);
    layout.yRange = GraphMath::UsableRange(yAxis.range.low, yAxis.range.high);
    const GraphMath::Range xRange = layout.xRange;
    const GraphMath::Range yRange = layout.yRange;

    layout.showTitle = m_bShowTitle && !m_title.isEmpty();
    layout.showXTitle = m_bShowXTitle && !xAxis.title.isEmpty();
    layout.showYTitle = m_bShowYTitle && !yAxis.title.isEmpty();

    // Vertical layout first: it fixes the plot's height, which decides the Y ticks,
    // whose label widths decide the left margin.
    const int top =
        area.top() + kOuterMargin + (layout.showTitle ? lineHeight + kGap : lineHeight / 2);
    int bottom = area.bottom() - kOuterMargin;
    if (layout.showXTitle)
        bottom -= lineHeight + kGap;
    if (m_nShowXLabels)
        bottom -= lineHeight + kGap;
    const int plotHeight = std::max(1, bottom - top);
    layout.yTicks =
        GraphMath::NiceTicks(yRange.low, yRange.high, std::max(2, plotHeight / (2 * lineHeight)));

    int yLabelWidth = 0;
    for (double value : layout.yTicks.major) {
        layout.yLabels.push_back(TickText(value, layout.yTicks.step, yAxis.valueType));
        if (m_nShowYLabels)
            yLabelWidth = std::max(yLabelWidth, m_textStamps.Advance(font, layout.yLabels.back()));
    }
    layout.yLabelWidth = yLabelWidth;
    int left = area.left() + kOuterMargin;
    if (layout.showYTitle)
        left += lineHeight + kGap;
    if (m_nShowYLabels)
        left += yLabelWidth + kGap;

    const QString widestX = TickText(xRange.high, xRange.high - xRange.low, xAxis.valueType);
    const int xLabelWidth = m_textStamps.Advance(font, widestX);
    layout.xLabelWidth = xLabelWidth;
    const int right = area.right() - kOuterMargin - (m_nShowXLabels ? xLabelWidth / 2 : 0);
    const int plotWidth = std::max(1, right - left);
    layout.plot = QRect(left, top, plotWidth, plotHeight);
    layout.xTicks = GraphMath::NiceTicks(xRange.low, xRange.high,
                                         std::max(2, plotWidth / (xLabelWidth + 3 * lineHeight)));
    return layout;
}

CVexGraph::Surround CVexGraph::SurroundOf(const QRect& area, const QColor& background,
                                          const QFont& font) {
    const Layout& layout = LayOut(area, font);
    const Axis& xAxis = AxisOf(eGraphAxisX);
    const Axis& yAxis = AxisOf(eGraphAxisY);
    Surround surround;
    surround.area = area;
    surround.plot = layout.plot;
    surround.font = font;
    surround.background = background.rgba();
    surround.colors = {xAxis.titleColor.rgba(), yAxis.titleColor.rgba()};
    surround.switches = {m_nShowXLabels, m_nShowYLabels, layout.showTitle, layout.showXTitle,
                         layout.showYTitle};
    surround.titles = {m_title, xAxis.title, yAxis.title};
    if (m_nShowYLabels) {
        const auto yMap = GraphMath::AxisMapping::Make(layout.yRange.low, layout.yRange.high,
                                                       layout.plot.top() + layout.plot.height(),
                                                       layout.plot.top());
        for (std::size_t i = 0; i < layout.yTicks.major.size(); ++i)
            surround.yLabels.emplace_back(int(std::lround(yMap.ToPixel(layout.yTicks.major[i]))),
                                          layout.yLabels[i]);
    }
    // The plot with its frame (one pixel past its right and bottom edges), and every row from
    // there down to the gap under the time axis' labels.
    const QRect& plot = layout.plot;
    const int stripBottom = plot.bottom() + kGap + (m_nShowXLabels ? layout.lineHeight : 0);
    surround.changing = QRegion(QRect(plot.left(), plot.top(), plot.width() + 1, plot.height())) +
                        QRect(QPoint(area.left(), plot.bottom() + 1),
                              QPoint(area.right(), std::min(area.bottom(), stripBottom)));
    return surround;
}

void CVexGraph::Draw(QPainter& painter, const QRect& area, const QColor& background,
                     const QFont& font, const QRect& exposed) {
    painter.save();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const Layout& layout = LayOut(area, font);
    const int lineHeight = layout.lineHeight;
    const Axis& xAxis = AxisOf(eGraphAxisX);
    const Axis& yAxis = AxisOf(eGraphAxisY);
    const GraphMath::Range xRange = layout.xRange;
    const GraphMath::Range yRange = layout.yRange;
    const bool showTitle = layout.showTitle;
    const bool showXTitle = layout.showXTitle;
    const bool showYTitle = layout.showYTitle;
    const GraphMath::Ticks& xTicks = layout.xTicks;
    const GraphMath::Ticks& yTicks = layout.yTicks;
    const int yLabelWidth = layout.yLabelWidth;
    const int xLabelWidth = layout.xLabelWidth;
    const QRect plot = layout.plot;
    m_lastPlot = plot;
    // What lies wholly outside the part being painted is not drawn at all.
    const QRect shown = exposed.isNull() ? area : exposed;

    const auto xMap = GraphMath::AxisMapping::Make(xRange.low, xRange.high, plot.left(),
                                                   plot.left() + plot.width());
    const auto yMap = GraphMath::AxisMapping::Make(yRange.low, yRange.high,
                                                   plot.top() + plot.height(), plot.top());

    // Grid: minor lines faint and dotted (a pixel on, two off), major lines stronger, all
    // in the axis' text colour mixed into the background. Qt fills a rectangle row by row,
    // so a tall one-pixel line costs a span per row and a small tiled brush a fetch per
    // repeat: the grid is drawn as few, wide spans instead, with the same pixels.
    const auto column = [&](double value) { return int(std::floor(xMap.ToPixel(value))); };
    const auto row = [&](double value) { return int(std::floor(yMap.ToPixel(value))); };
    // The background: the plot's rows (and the column past its right edge, where the
    // range's end maps) from a tile as wide as they are, whose first row holds the dotted
    // columns, laid over them at once; the rest of the area in one colour. Dots sit on
    // every third row counted from the painter's origin.
    const QRect tiled = QRect(plot.left(), plot.top(), plot.width() + 1, plot.height()) & area;
    QImage tile;
    if (xAxis.minorGrid && !tiled.isEmpty()) {
        const QRgb dot = Mix(background, xAxis.titleColor, 0.16).rgb();
        ForEachMinor(xTicks, xRange, [&](double value) {
            const int px = column(value) - tiled.left();
            if (px < 0 || px >= tiled.width())
                return;
            if (tile.isNull()) {
                tile = QImage(tiled.width(), 3, QImage::Format_RGB32);
                tile.fill(background);
            }
            reinterpret_cast<QRgb*>(tile.scanLine(0))[px] = dot;
        });
    }
    if (tile.isNull()) {
        FillInBands(painter, area, QBrush(background));
    } else {
        FillAround(painter, area, tiled, QBrush(background));
        painter.setBrushOrigin(tiled.left(), 0);
        FillInBands(painter, tiled, QBrush(tile));
        painter.setBrushOrigin(0, 0);
    }
    if (yAxis.minorGrid) {
        // A dot on every third column counted from the painter's origin; the tile spans
        // the plot so each line is one copied span.
        const int width = (plot.width() / 3 + 2) * 3;
        QImage rowTile(width, 1, QImage::Format_RGB32);
        rowTile.fill(background);
        const QRgb dot = Mix(background, yAxis.titleColor, 0.16).rgb();
        auto* pixels = reinterpret_cast<QRgb*>(rowTile.scanLine(0));
        for (int i = 0; i < width; i += 3)
            pixels[i] = dot;
        const QBrush brush(rowTile);
        ForEachMinor(yTicks, yRange, [&](double value) {
            painter.fillRect(QRect(plot.left(), row(value), plot.width(), 1), brush);
        });
    }
    // Solid lines as one-pixel rectangles: the fill writes the colour straight in, where
    // a stroked line blends it pixel by pixel. A line covers both its end pixels.
    if (xAxis.majorGrid) {
        const QColor color = Mix(background, xAxis.titleColor, 0.35);
        for (double value : xTicks.major)
            painter.fillRect(QRect(column(value), plot.top(), 1, plot.height()), color);
    }
    if (yAxis.majorGrid) {
        const QColor color = Mix(background, yAxis.titleColor, 0.35);
        for (double value : yTicks.major)
            painter.fillRect(QRect(plot.left(), row(value), plot.width(), 1), color);
    }
    // The frame runs through the pixels just past the plot's right and bottom edges.
    const QColor frame = Mix(background, xAxis.titleColor, 0.8);
    painter.fillRect(QRect(plot.left(), plot.top(), plot.width() + 1, 1), frame);
    painter.fillRect(QRect(plot.left(), plot.top() + plot.height(), plot.width() + 1, 1), frame);
    painter.fillRect(QRect(plot.left(), plot.top(), 1, plot.height() + 1), frame);
    painter.fillRect(QRect(plot.left() + plot.width(), plot.top(), 1, plot.height() + 1), frame);

    // Tick values.
    if (m_nShowYLabels) {
        painter.setPen(yAxis.titleColor);
        for (std::size_t i = 0; i < yTicks.major.size(); ++i) {
            const int py = int(std::lround(yMap.ToPixel(yTicks.major[i])));
            const QRect box(plot.left() - kGap - yLabelWidth, py - lineHeight / 2, yLabelWidth,
                            lineHeight);
            if (!box.intersects(shown))
                continue;
            m_textStamps.Draw(painter, box, Qt::AlignRight | Qt::AlignVCenter, layout.yLabels[i]);
        }
    }
    if (m_nShowXLabels) {
        painter.setPen(xAxis.titleColor);
        for (double value : xTicks.major) {
            const int px = int(std::lround(xMap.ToPixel(value)));
            const QRect box(px - xLabelWidth, plot.bottom() + kGap, 2 * xLabelWidth, lineHeight);
            // The widest label was measured at the range's end; finer steps can be wider.
            m_textStamps.Draw(painter, box, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                              TickText(value, xTicks.step, xAxis.valueType));
        }
    }

    // Titles.
    const QRect titleBox(area.left(), area.top() + kOuterMargin, area.width(), lineHeight);
    if (showTitle && titleBox.intersects(shown)) {
        painter.setPen(xAxis.titleColor);
        m_textStamps.Draw(painter, titleBox, Qt::AlignCenter, m_title);
    }
    const QRect xTitleBox(plot.left(), area.bottom() - kOuterMargin - lineHeight + 1, plot.width(),
                          lineHeight);
    if (showXTitle && xTitleBox.intersects(shown)) {
        painter.setPen(xAxis.titleColor);
        m_textStamps.Draw(painter, xTitleBox, Qt::AlignCenter, xAxis.title);
    }
    // Turned, the title's box runs up the left margin around the plot's middle.
    const QPoint yTitleAt(area.left() + kOuterMargin, plot.top() + plot.height() / 2);
    const QRect yTitleBox(-plot.height() / 2, 0, plot.height(), lineHeight);
    const QRect yTitleOnScreen(yTitleAt.x(), yTitleAt.y() - yTitleBox.right() - 1,
                               yTitleBox.height(), yTitleBox.width() + 2);
    if (showYTitle && yTitleOnScreen.intersects(shown)) {
        painter.setPen(yAxis.titleColor);
        m_textStamps.DrawTurnedLeft(painter, yTitleAt, yTitleBox, Qt::AlignCenter, yAxis.title);
    }

    // Series, clipped to the plot: a true line of the series' width through the
    // centres of the points' pixels (see GraphMath::DecimateToColumns).
    painter.setClipRect(CurveClip(plot));
    painter.setRenderHint(QPainter::Antialiasing, m_nAntialias != 0);
    for (const auto& series : m_series)
        DrawCurve(painter, *series, xMap, yMap, plot);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipping(false);

    if (m_nShowLegend && !m_series.empty()) {
        int y = plot.top() + kGap;
        const int swatch = 2 * lineHeight;
        for (std::size_t i = 0; i < m_series.size(); ++i) {
            const QString name = QStringLiteral("Series %1").arg(i + 1);
            const int textWidth = metrics.horizontalAdvance(name);
            const int x = plot.right() - kGap - textWidth - kGap - swatch;
            painter.setPen(QPen(m_series[i]->m_crColor, std::max(1, m_series[i]->m_nLineWidth)));
            painter.drawLine(x, y + lineHeight / 2, x + swatch, y + lineHeight / 2);
            painter.setPen(xAxis.titleColor);
            DrawDeviceText(painter, QRect(x + swatch + kGap, y, textWidth, lineHeight),
                           Qt::AlignLeft | Qt::AlignVCenter, name);
            y += lineHeight;
        }
    }
    painter.restore();
}
