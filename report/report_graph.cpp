#include "report/report_graph.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "run/journal_reader.h"

std::vector<double> NiceTicks(double low, double high, int wanted) {
    std::vector<double> ticks;
    if (!(high > low) || wanted < 1) {
        return ticks;
    }
    const double rough = (high - low) / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough) {
            break;
        }
    }
    for (double tick = std::ceil(low / step) * step; tick <= high + step * 1e-9; tick += step) {
        ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    }
    return ticks;
}

std::vector<std::pair<double, double>> ColumnExtremes(const std::vector<double>& values,
                                                      int columns) {
    std::vector<std::pair<double, double>> points;
    const std::size_t n = values.size();
    if (columns < 1 || n <= static_cast<std::size_t>(columns) * 4) {
        for (std::size_t i = 0; i < n; ++i) {
            points.emplace_back(static_cast<double>(i + 1), values[i]);
        }
        return points;
    }
    points.reserve(static_cast<std::size_t>(columns) * 4);
    for (int column = 0; column < columns; ++column) {
        const std::size_t first = n * static_cast<std::size_t>(column) / columns;
        const std::size_t last = n * static_cast<std::size_t>(column + 1) / columns - 1;
        std::size_t lowest = first;
        std::size_t highest = first;
        for (std::size_t i = first; i <= last; ++i) {
            lowest = values[i] < values[lowest] ? i : lowest;
            highest = values[i] > values[highest] ? i : highest;
        }
        for (std::size_t i : {first, std::min(lowest, highest), std::max(lowest, highest), last}) {
            if (points.empty() || points.back().first != static_cast<double>(i + 1)) {
                points.emplace_back(static_cast<double>(i + 1), values[i]);
            }
        }
    }
    return points;
}

void DrawRunGraph(QPainter& painter, const QRectF& area, const JournalContents& run) {
    painter.save();
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    std::vector<double> speeds;
    speeds.reserve(run.samples.size());
    double top = std::max(run.speedSetpoint, 1);
    for (const JournalSample& sample : run.samples) {
        speeds.push_back(sample.speed);
        top = std::max(top, static_cast<double>(sample.speed));
    }
    // Headroom above the highest speed, so the setpoint and a flat run stay off the frame.
    const double yHigh = top * 1.15;
    const std::vector<double> yTicks = NiceTicks(0.0, yHigh, 6);
    const double xHigh = std::max<double>(static_cast<double>(speeds.size()), 2.0);
    const std::vector<double> xTicks = NiceTicks(1.0, xHigh, 8);

    double labelWidth = 0;
    for (double tick : yTicks) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(QString::number(tick)));
    }
    const QRectF plot(area.left() + line * 1.6 + labelWidth, area.top() + line * 0.5,
                      area.width() - line * 2.2 - labelWidth, area.height() - line * 3.0);
    const auto px = [&](double x) {
        return plot.left() + (x - 1.0) / (xHigh - 1.0) * plot.width();
    };
    const auto py = [&](double y) { return plot.bottom() - y / yHigh * plot.height(); };

    const double thin = std::max(1.0, line / 14.0);
    painter.setPen(QPen(QColor(220, 220, 220), thin));
    for (double tick : yTicks) {
        painter.drawLine(QPointF(plot.left(), py(tick)), QPointF(plot.right(), py(tick)));
    }
    painter.setPen(QPen(Qt::black, thin));
    painter.drawRect(plot);
    for (double tick : yTicks) {
        const QString text = QString::number(tick);
        painter.drawText(QPointF(plot.left() - line * 0.3 - metrics.horizontalAdvance(text),
                                 py(tick) + metrics.ascent() / 2.5),
                         text);
    }
    for (double tick : xTicks) {
        const QString text = QString::number(tick, 'f', 0);
        painter.drawLine(QPointF(px(tick), plot.bottom()),
                         QPointF(px(tick), plot.bottom() + line * 0.25));
        painter.drawText(
            QPointF(px(tick) - metrics.horizontalAdvance(text) / 2, plot.bottom() + line * 1.2),
            text);
    }
    const QString xTitle = QStringLiteral("Sample");
    painter.drawText(QPointF(plot.center().x() - metrics.horizontalAdvance(xTitle) / 2,
                             plot.bottom() + line * 2.3),
                     xTitle);
    painter.save();
    painter.translate(area.left() + line * 0.9, plot.center().y());
    painter.rotate(-90);
    const QString yTitle = QStringLiteral("Speed (1/min)");
    painter.drawText(QPointF(-metrics.horizontalAdvance(yTitle) / 2, 0), yTitle);
    painter.restore();

    painter.setClipRect(plot);
    if (run.speedSetpoint > 0) {
        painter.setPen(QPen(QColor(200, 60, 40), thin * 1.5, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), py(run.speedSetpoint)),
                         QPointF(plot.right(), py(run.speedSetpoint)));
    }
    const auto points = ColumnExtremes(speeds, static_cast<int>(plot.width()));
    if (!points.empty()) {
        QPainterPath path(QPointF(px(points.front().first), py(points.front().second)));
        for (const auto& [x, y] : points) {
            path.lineTo(px(x), py(y));
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(
            QPen(QColor(20, 70, 160), thin * 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
    }
    painter.restore();
}
