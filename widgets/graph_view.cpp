#include "widgets/graph_view.h"

#include <algorithm>
#include <cmath>

namespace GraphView {

namespace {

Range Ordered(Range range) {
    if (range.low > range.high)
        std::swap(range.low, range.high);
    return range;
}

// `range` moved (not resized, unless it is wider) to lie inside `limit`.
Range Inside(Range range, Range limit) {
    const double span = range.high - range.low;
    if (span >= limit.high - limit.low)
        return limit;
    if (range.low < limit.low)
        return {limit.low, limit.low + span};
    if (range.high > limit.high)
        return {limit.high - span, limit.high};
    return range;
}

bool Finite(Range range) {
    return std::isfinite(range.low) && std::isfinite(range.high);
}

}  // namespace

Range ZoomAround(Range shown, double factor, double anchor, Range limit) {
    shown = Ordered(shown);
    limit = Ordered(limit);
    if (!Finite(shown) || !Finite(limit) || !std::isfinite(anchor) || !(factor > 0.0))
        return shown;
    const double span = shown.high - shown.low;
    const double widest = limit.high - limit.low;
    const double narrowest = std::min(kNarrowestSpan, widest);
    const double wanted = std::clamp(span * factor, narrowest, widest);
    if (span <= 0.0)
        return Inside({anchor - wanted / 2, anchor + wanted / 2}, limit);
    const double scale = wanted / span;
    const double low = anchor - (anchor - shown.low) * scale;
    return Inside({low, low + wanted}, limit);
}

Range PanByPixels(Range shown, double pixels, double plotWidth, Range limit) {
    shown = Ordered(shown);
    limit = Ordered(limit);
    if (!Finite(shown) || !Finite(limit) || !std::isfinite(pixels) || !(plotWidth > 0.0))
        return shown;
    const double shift = -pixels * (shown.high - shown.low) / plotWidth;
    return Inside({shown.low + shift, shown.high + shift}, limit);
}

void SetAutomatic(FollowState& state, Range range) {
    state.automatic = Ordered(range);
    if (state.following)
        state.shown = state.automatic;
}

void SetByOperator(FollowState& state, Range range) {
    range = Inside(Ordered(range), state.automatic);
    state.shown = range;
    state.following = range.low <= state.automatic.low && range.high >= state.automatic.high;
}

void Restore(FollowState& state) {
    state.shown = state.automatic;
    state.following = true;
}

}  // namespace GraphView
