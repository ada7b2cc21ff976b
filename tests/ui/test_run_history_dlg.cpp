// "Runs…": a full journal folder listed, filtered and opened, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>

#include "run/journal_seal.h"
#include "ui/run_history_dlg.h"

namespace {

// `count` journals of 120 samples, a day apart each, on three instruments; every 50th was
// edited after its end, the newest never ended.
void MakeJournals(const std::string& folder, int count) {
    for (int i = 0; i < count; ++i) {
        char start[64];
        std::snprintf(start, sizeof start, "2025-%02d-%02dT09:%02d:00.000+01:00", 1 + i / 28 % 12,
                      1 + i % 28, i / 336);
        std::string text = std::string("# start\t") + start + "\n# port\t/dev/ttyUSB0\n" +
                           "# device ID\tKS 4000i #" + std::to_string(i % 3) +
                           "\n# device type\t1\n# speed setpoint (1/min)\t" +
                           std::to_string(200 + i % 5 * 50) +
                           "\n# time setpoint\t120\n# program version\t1.2\n"
                           "#sample\tspeed\treading\tremaining\tlocal time\n";
        for (int s = 1; s <= 120; ++s) {
            text += std::to_string(s) + "\t" + std::to_string(std::min(s * 40, 200 + i % 5 * 50)) +
                    "\t0\t" + std::to_string(120 - s) + "\t" + start + "\n";
        }
        if (i != count - 1) {
            text += std::string("# end\ttime 0\t") + start + "\n";
            text += JournalSealLines(text, nullptr, "");
        }
        if (i % 50 == 7) {
            text[text.find("\n60\t") + 5] ^= 1;
        }
        char name[64];
        std::snprintf(name, sizeof name, "/run-%05d.tsv", i);
        std::ofstream(folder + name) << text;
    }
}

}  // namespace

TEST(RunHistoryDlg, ListsFiveHundredRunsWithTheirSealAndFiltersByDevice) {
    QTemporaryDir dir;
    MakeJournals(dir.path().toStdString(), 500);
    CRunHistoryDlg dialog(dir.path());
    dialog.show();
    QTableWidget* table = dialog.Table();
    ASSERT_EQ(table->rowCount(), 500);
    int altered = 0;
    int unsealed = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        altered += table->item(row, 6)->text() == QStringLiteral("\u2717");
        unsealed += table->item(row, 6)->text() == QStringLiteral("\u2014");
    }
    EXPECT_EQ(altered, 10);
    EXPECT_EQ(unsealed, 1);

    auto* device = dialog.findChild<QComboBox*>();
    ASSERT_EQ(device->count(), 4);  // all, and the three instruments
    device->setCurrentIndex(2);
    EXPECT_EQ(table->rowCount(), 167);
    for (int row = 0; row < table->rowCount(); ++row) {
        ASSERT_EQ(table->item(row, 1)->text(), device->currentText());
    }
    device->setCurrentIndex(0);

    dialog.OpenRow(0);
    EXPECT_EQ(dialog.findChildren<CRunViewDlg*>().size(), 1);
    if (const QByteArray docs = qgetenv("VELMORA_DOCS_DIR"); !docs.isEmpty()) {
        dialog.resize(820, 420);
        dialog.grab().save(QString::fromLocal8Bit(docs) + "/run-history.png");
        dialog.findChild<CRunViewDlg*>()->grab().save(QString::fromLocal8Bit(docs) +
                                                      "/run-view.png");
    }
}
