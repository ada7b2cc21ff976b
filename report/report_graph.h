#pragma once

#include <QRectF>
#include <vector>

class QPainter;
struct JournalContents;

// Ticks for an axis from `low` to `high`: steps of 1, 2 or 5 times a power of ten, about
// `wanted` of them, every tick inside the range.
std::vector<double> NiceTicks(double low, double high, int wanted);

// The points of a polyline of `values` (x = index + 1) across `columns` pixel columns: every
// point when they fit, else each column's first, lowest, highest and last value in order, so
// that no peak is lost and the line is as long as the plot is wide.
std::vector<std::pair<double, double>> ColumnExtremes(const std::vector<double>& values,
                                                      int columns);

// The speed graph of a run in `area`: axes with ticks and titles, the setpoint dashed, the
// speed as a line. Drawn at the painter's resolution.
void DrawRunGraph(QPainter& painter, const QRectF& area, const JournalContents& run);
