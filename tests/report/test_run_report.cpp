// The PDF report read back with poppler's tools: its text, and its first page as a picture.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "report/run_report.h"
#include "run/journal_reader.h"

TEST(RunReport, HoldsTheHeaderEverySampleAndAVisibleGraph) {
    JournalContents run;
    run.path = "/data/run-2026-12-09T10-41-16.123.tsv";
    run.startText = "2026-12-09T10:41:16.123+01:00";
    run.endText = "2026-12-09T11:21:16.500+01:00";
    run.port = "/dev/ttyUSB0";
    run.deviceId = "KS 4000i control";
    run.deviceType = 1;
    run.speedSetpoint = 300;
    run.timeSetpoint = 2400;
    run.startedBy = "ana@bench-3";
    run.endReason = "Stop";
    for (int i = 1; i <= 2400; ++i) {
        run.samples.push_back(
            {i, std::min(300, i * 30), 299, 2400 - i, "2026-12-09T10:41:17.125+01:00"});
    }
    run.check.state = JournalCheck::State::Sealed;
    run.check.signedRun = true;
    run.check.signer = "ana@bench-3";
    run.check.digest = std::string(64, 'a');

    QTemporaryDir dir;
    const QString pdf = dir.filePath("run.pdf");
    std::string error;
    ASSERT_TRUE(WriteRunReport(run, pdf.toStdString(), &error)) << error;

    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(60000)) << "pdftotext (poppler-utils) is needed";
    const QString all = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* field :
         {"KS 4000i control", "/dev/ttyUSB0", "ana@bench-3", "2026-12-09T10:41:16.123+01:00",
          "2026-12-09T11:21:16.500+01:00", "300 1/min", "2400", "Stop", "signed by ana@bench-3",
          "Page 1 of ", "SHA-256 aaaa"}) {
        EXPECT_TRUE(all.contains(QString::fromUtf8(field))) << field;
    }
    // Every sample, the last one on the last page.
    EXPECT_TRUE(all.contains(QRegularExpression("\\b2400 +300 +299 +0 +10:41:17.125")));
    const int pages = all.count(QChar(u'\f'));
    EXPECT_TRUE(all.contains(QStringLiteral("Page %1 of %1").arg(pages))) << pages;

    QProcess render;
    render.start("pdftoppm", {"-r", "100", "-png", "-f", "1", "-l", "1", "-singlefile", pdf,
                              dir.filePath("page")});
    ASSERT_TRUE(render.waitForFinished(60000));
    const QImage page(dir.filePath("page.png"));
    ASSERT_FALSE(page.isNull());
    // The speed line: the page's only blue (the text is black, the setpoint red), wherever the
    // fonts of the machine put the graph.
    int blue = 0;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            blue += c.blue() > c.red() + 60 && c.blue() > c.green() + 30;
        }
    }
    EXPECT_GT(blue, 400) << blue;
}
