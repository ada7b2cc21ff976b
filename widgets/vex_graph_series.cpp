#include "widgets/vex_graph_series.h"

namespace {

bool SameMapping(const GraphMath::AxisMapping& a, const GraphMath::AxisMapping& b) {
    return a.valueLow == b.valueLow && a.valueHigh == b.valueHigh && a.pixelLow == b.pixelLow &&
           a.pixelHigh == b.pixelHigh;
}

}  // namespace

void CVexGraphSeries::Append(double x, double y) {
    if (m_count > 0 && x < X(m_count - 1))
        m_bXNeverDecreases = false;
    if (m_count == m_blocks.size() * kBlockPoints)
        m_blocks.push_back(std::make_unique<Block>());
    Block& block = *m_blocks[m_count / kBlockPoints];
    block.x[m_count % kBlockPoints] = x;
    block.y[m_count % kBlockPoints] = y;
    ++m_count;
}

std::vector<GraphMath::PointSpan> CVexGraphSeries::Spans() const {
    std::vector<GraphMath::PointSpan> spans;
    spans.reserve(m_blocks.size());
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
        const std::size_t first = b * kBlockPoints;
        const std::size_t count = std::min(kBlockPoints, m_count - first);
        spans.push_back({m_blocks[b]->x.data(), m_blocks[b]->y.data(), count});
    }
    return spans;
}

bool CVexGraphSeries::CurveKey::operator==(const CurveKey& other) const {
    return count == other.count && SameMapping(xMap, other.xMap) && SameMapping(yMap, other.yMap) &&
           columnLeft == other.columnLeft && columnRight == other.columnRight &&
           width == other.width && antialias == other.antialias && style == other.style &&
           color == other.color;
}
