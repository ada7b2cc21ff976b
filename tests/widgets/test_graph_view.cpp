#include <gtest/gtest.h>

#include <vector>

#include "widgets/graph_view.h"

using namespace GraphView;

namespace {

void ExpectRange(Range actual, double low, double high) {
    EXPECT_DOUBLE_EQ(actual.low, low);
    EXPECT_DOUBLE_EQ(actual.high, high);
}

}  // namespace

TEST(GraphView, ZoomKeepsTheAnchorInPlaceWithinItsLimits) {
    const Range all{0.0, 1000.0};
    // The anchor a quarter of the way in stays a quarter of the way in.
    ExpectRange(ZoomAround(all, 0.5, 250.0, all), 125.0, 625.0);
    ExpectRange(ZoomAround({125.0, 625.0}, 2.0, 250.0, all), 0.0, 1000.0);
    // No closer than two samples, still around the anchor.
    ExpectRange(ZoomAround(all, 1e-6, 250.0, all), 249.5, 251.5);
    // No wider than the limit, and moved back inside it near an edge.
    ExpectRange(ZoomAround({400.0, 500.0}, 100.0, 450.0, all), 0.0, 1000.0);
    ExpectRange(ZoomAround({900.0, 1000.0}, 4.0, 990.0, all), 600.0, 1000.0);
    // A limit narrower than two samples (a run's first sample) is all there is.
    ExpectRange(ZoomAround({0.0, 1.5}, 0.5, 1.0, {0.0, 1.5}), 0.0, 1.5);
}

TEST(GraphView, PanFollowsThePointerAndStopsAtTheLimits) {
    const Range all{0.0, 1000.0};
    // 500 pixels show 100 samples: dragging 50 pixels right brings 10 earlier ones in.
    ExpectRange(PanByPixels({100.0, 200.0}, 50.0, 500.0, all), 90.0, 190.0);
    ExpectRange(PanByPixels({100.0, 200.0}, -50.0, 500.0, all), 110.0, 210.0);
    ExpectRange(PanByPixels({100.0, 200.0}, 5000.0, 500.0, all), 0.0, 100.0);
    ExpectRange(PanByPixels({100.0, 200.0}, -1e9, 500.0, all), 900.0, 1000.0);
}

TEST(GraphView, NearestSampleByHalving) {
    const std::vector<double> x{1.0, 2.0, 3.0, 5.0, 8.0};
    EXPECT_FALSE(NearestIndex(std::vector<double>{}, 1.0).has_value());
    const struct {
        double at;
        std::size_t index;
    } cases[] = {{-5.0, 0}, {1.4, 0}, {1.5, 0}, {1.6, 1}, {3.0, 2},
                 {4.0, 2},  {4.1, 3}, {6.6, 4}, {8.0, 4}, {1e9, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(NearestIndex(x, c.at), c.index) << c.at;

    std::vector<double> run;
    for (int i = 1; i <= 72000; ++i)
        run.push_back(i);
    for (int i : {1, 2, 35999, 71999, 72000})
        EXPECT_EQ(NearestIndex(run, i - 0.3), std::size_t(i - 1)) << i;
}

TEST(GraphView, TheOperatorsRangeHoldsUntilRestored) {
    FollowState state;
    SetAutomatic(state, {0.0, 101.0});
    EXPECT_TRUE(state.following);
    ExpectRange(state.shown, 0.0, 101.0);

    SetByOperator(state, {20.0, 40.0});
    EXPECT_FALSE(state.following);
    SetAutomatic(state, {0.0, 102.0});  // the next status update
    ExpectRange(state.shown, 20.0, 40.0);
    ExpectRange(state.automatic, 0.0, 102.0);

    // The operator's range stays within what the application shows ...
    SetByOperator(state, {90.0, 110.0});
    ExpectRange(state.shown, 82.0, 102.0);
    EXPECT_FALSE(state.following);
    // ... and all of it is following again.
    SetByOperator(state, {0.0, 102.0});
    EXPECT_TRUE(state.following);
    SetAutomatic(state, {0.0, 103.0});
    ExpectRange(state.shown, 0.0, 103.0);

    SetByOperator(state, {10.0, 20.0});
    SetAutomatic(state, {0.0, 104.0});
    Restore(state);
    EXPECT_TRUE(state.following);
    ExpectRange(state.shown, 0.0, 104.0);
}
