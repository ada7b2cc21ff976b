#pragma once

#include <cstddef>
#include <optional>

#include "widgets/graph_math.h"

// What the operator does to the trend graph's time axis (zoom, pan, pick a sample) and
// whether the axis still follows the newest sample, free of any widget so it can be
// checked on its own.
namespace GraphView {

using GraphMath::Range;

// Closer than two samples apart there is nothing left to look at.
constexpr double kNarrowestSpan = 2.0;

// `shown` scaled by `factor` (below 1 zooms in) so that the value `anchor` keeps its
// place on the axis; never narrower than kNarrowestSpan nor wider than `limit`, and
// moved back inside `limit` where it would stick out (the anchor then gives way).
Range ZoomAround(Range shown, double factor, double anchor, Range limit);

// `shown` moved so that its content follows a pointer dragged `pixels` to the right on
// a plot `plotWidth` pixels wide, and kept inside `limit`.
Range PanByPixels(Range shown, double pixels, double plotWidth, Range limit);

// The index of the value nearest to `x` among `xs`, whose values never decrease (found
// by halving, so a run of any length answers at once); none for no values. Of two
// equally near the earlier wins.
template <typename Values>
std::optional<std::size_t> NearestIndex(const Values& xs, double x) {
    std::size_t count = xs.size();
    if (count == 0)
        return std::nullopt;
    // First index whose value is not below x.
    std::size_t low = 0;
    while (count > 0) {
        const std::size_t half = count / 2;
        if (xs[low + half] < x) {
            low += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    if (low == xs.size())
        return low - 1;
    if (low > 0 && x - xs[low - 1] <= xs[low] - x)
        return low - 1;
    return low;
}

// The time axis' range: the application sets the "automatic" range on every status
// update; it is shown while the axis follows the newest sample. Once the operator zooms
// or pans, their range is shown and the automatic one is only remembered, until they
// ask for it back.
struct FollowState {
    Range automatic{0.0, 10.0};
    Range shown{0.0, 10.0};
    bool following = true;
};

// The application's range arrives: remembered, and shown while following.
void SetAutomatic(FollowState& state, Range range);
// The operator chose `range` (kept inside the automatic range). Following stops, unless
// it shows the whole automatic range, which is what following shows anyway.
void SetByOperator(FollowState& state, Range range);
// Back to the automatic range, following again.
void Restore(FollowState& state);

}  // namespace GraphView
