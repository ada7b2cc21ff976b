#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <bit>
#include <cstdint>

#include "ui/run_display.h"
#include "widgets/digit_st.h"
#include "widgets/vex_graph_wnd.h"

namespace {

// Stands in for the main window's picture behind the controls.
class BackgroundWindow : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(rect(), QImage(":/images/bitmap_101.png"));
    }
};

// The main window's two readouts and graph, at their sizes there.
struct DisplayHost {
    BackgroundWindow window;
    CDigitST* time = new CDigitST(&window);
    CDigitST* speed = new CDigitST(&window);
    CVexGraphWnd* graph = new CVexGraphWnd(&window);
    CRunDisplay display{*time, *speed, *graph};

    DisplayHost() {
        window.resize(984, 580);
        time->setGeometry(688, 128, 285, 102);
        speed->setGeometry(688, 273, 285, 102);
        graph->setGeometry(12, 11, 642, 528);
        display.SetupReadouts();
        display.SetupGraph();
    }
};

// A readout with the given cells and decimals, for the formatter alone.
QString Format(int decimals, float value) {
    CDigitST readout;
    readout.SetStyle(103, 5);
    readout.m_nDecimals = decimals;
    return CRunDisplay::FormatReadout(readout, value);
}

}  // namespace

TEST(RunDisplay, ReadoutNumbersAreTruncatedOrRoundedAndRightAligned) {
    EXPECT_EQ(Format(0, 500.0f), "  500");
    EXPECT_EQ(Format(0, 299.9f), "  299");
    EXPECT_EQ(Format(0, 0.0f), "    0");
    EXPECT_EQ(Format(0, -3.7f), "   -3");
    EXPECT_EQ(Format(0, 123456.0f), "123456");  // whole, never its last five
    EXPECT_EQ(Format(0, 65535.0f), "65535");
    EXPECT_EQ(Format(1, 300.0f), "300.0");
    EXPECT_EQ(Format(1, 1234.5f), "1234.5");
    EXPECT_EQ(Format(1, 2.25f), "  2.2");  // 2.25 rounds to even, as printf does
    EXPECT_EQ(Format(1, 2.26f), "  2.3");
    // Values no int can hold are cut to what an int can, without overflow.
    EXPECT_EQ(Format(0, 1e20f), "2147483647");
    EXPECT_EQ(Format(0, NAN), "    0");

    CDigitST wide;
    wide.SetStyle(103, 12);
    EXPECT_EQ(CRunDisplay::FormatReadout(wide, 7.0f), QString(9, u' ') + "7");  // padded to 10
}

TEST(RunDisplay, StartsWithItsFirstTextsAndShowsTimes) {
    DisplayHost host;
    EXPECT_EQ(host.time->GetValue(), "01:11");
    EXPECT_EQ(host.speed->GetValue(), "  500");
    EXPECT_EQ(host.time->GetPrecision(), 5);
    EXPECT_EQ(host.time->m_nDecimals, 1);
    EXPECT_EQ(host.speed->m_nDecimals, 0);

    const std::pair<int, const char*> times[] = {{0, "00:00"},     {61, "01:01"},
                                                 {71, "01:11"},    {5999, "99:59"},
                                                 {6000, "100:00"}, {65535, "1092:15"}};
    for (const auto& [time, text] : times) {
        host.display.ShowTime(time);
        EXPECT_EQ(host.time->GetValue(), text) << time;
    }
    host.display.ShowSpeed(310);
    EXPECT_EQ(host.speed->GetValue(), "  310");
}

TEST(RunDisplay, TheColonBlinksFromStart) {
    DisplayHost host;
    host.display.m_nBlink = 0;
    const char* expected[] = {"02:00", "01 59", "01:58"};
    int time = 120;
    for (const char* text : expected) {
        host.display.ShowBlinkingTime(time--);
        EXPECT_EQ(host.time->GetValue(), text);
    }
    // ShowTime neither reads nor changes the flag; any flag but 0 toggles to 0.
    host.display.ShowTime(5);
    EXPECT_EQ(host.display.m_nBlink, 1);
    host.display.m_nBlink = 7;
    host.display.ShowBlinkingTime(5);
    EXPECT_EQ(host.display.m_nBlink, 0);
}

TEST(RunDisplay, PlottingStartsOneCurveAndAppendsToIt) {
    DisplayHost host;
    CVexGraph& graph = *host.graph->m_pGraph;
    host.display.PlotSpeed(1, 300);
    ASSERT_EQ(host.graph->GetSeriesCount(), 1);
    const CVexGraphSeries* series = graph.GetSeries(0);
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(series->GetCount(), 1u);
    EXPECT_EQ(series->m_crColor, QColor(0, 0, 128));
    EXPECT_EQ(series->m_nLineWidth, 3);

    host.display.PlotSpeed(2, 310);
    EXPECT_EQ(host.graph->GetSeriesCount(), 1);
    EXPECT_EQ(series->GetCount(), 2u);
    EXPECT_EQ(series->XData()[1], 2.0);
    EXPECT_EQ(series->YData()[1], 310.0);

    host.display.ResetGraph();
    EXPECT_EQ(host.graph->GetSeriesCount(), 0);
    host.display.PlotSpeed(1, 0);
    EXPECT_EQ(graph.GetSeries(0)->GetCount(), 1u);
}

namespace {

// A graph that refuses every new series.
class RefusingGraph : public CVexGraphWnd {
  public:
    int AddSeries(unsigned, const double*, const double*) override { return 0; }
};

}  // namespace

TEST(RunDisplay, ARefusedSeriesIsLeftAlone) {
    CDigitST time, speed;
    RefusingGraph graph;
    CRunDisplay display(time, speed, graph);
    display.PlotSpeed(1, 300);  // must not touch a series that does not exist
    EXPECT_EQ(graph.GetSeriesCount(), 0);
}

TEST(RunDisplay, RescalingLeavesHeadroomAboveTheFastestSpeed) {
    DisplayHost host;
    const CVexGraph& graph = *host.graph->m_pGraph;
    host.display.RescaleGraph(0.0f, 300.0f, 1.0);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisY).low, 0.0);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisY).high, 307.5);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisX).high, 2.0);
    host.display.RescaleGraph(0.0f, 310.0f, 2.0);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisY).high, 317.75);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisX).low, 0.0);
    EXPECT_DOUBLE_EQ(graph.GetAxisRange(eGraphAxisX).high, 3.0);

    // An all-zero run keeps the smallest normal float as its maximum.
    const float smallest = std::bit_cast<float>(std::uint32_t{0x00800000});
    host.display.RescaleGraph(0.0f, smallest, 5.0);
    EXPECT_EQ(graph.GetAxisRange(eGraphAxisY).low, 0.0);
    EXPECT_NEAR(graph.GetAxisRange(eGraphAxisY).high, 1.2049e-38, 1e-42);
    EXPECT_EQ(graph.GetAxisRange(eGraphAxisY).high, double(smallest) * 1.025);
    // ... and still draws.
    host.display.PlotSpeed(1, 0);
    EXPECT_FALSE(host.graph->grab().isNull());
}

TEST(RunDisplay, SetUpGraphLooksLikeTheWindow) {
    DisplayHost host;
    for (int x = 1; x <= 300; ++x)
        host.display.PlotSpeed(x, 250 + (x % 50));
    host.display.RescaleGraph(0.0f, 299.0f, 300.0);
    const QImage image = host.graph->grab().toImage();
    EXPECT_EQ(QColor(image.pixel(2, 2)), QColor(73, 86, 119));
    // Axis titles and tick values are drawn in light text outside the plot area; their
    // edges are smoothed, so a pixel counts when it is close to the colour.
    const QRect plot(60, 20, image.width() - 70, image.height() - 70);
    int curve = 0, title = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c(image.pixel(x, y));
            curve += c == QColor(0, 0, 128);
            title += !plot.contains(x, y) && qAbs(c.red() - 234) < 40 &&
                     qAbs(c.green() - 234) < 40 && qAbs(c.blue() - 234) < 40;
        }
    }
    EXPECT_GT(curve, 300);
    EXPECT_GT(title, 100);  // axis titles and tick values in light text
    if (qEnvironmentVariableIsSet("VELMORA_SCREENSHOT"))
        host.window.grab().save(qEnvironmentVariable("VELMORA_SCREENSHOT"));
}
