#include "report/run_report.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>

#include "report/report_graph.h"
#include "run/device_type.h"
#include "run/instrument_models.h"
#include "run/journal_reader.h"

namespace {

constexpr int kResolution = 300;  // dots per inch: the graph's line is drawn this fine
constexpr double kMillimetre = kResolution / 25.4;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QString SealText(const JournalCheck& check) {
    switch (check.state) {
        case JournalCheck::State::Sealed:
            return QStringLiteral("sealed, every line as written") +
                   (check.sealedAfterCrash ? QStringLiteral(" (sealed after an unexpected end)")
                                           : QString());
        case JournalCheck::State::Altered:
            return QStringLiteral("ALTERED at line %1: %2")
                .arg(check.alteredLine)
                .arg(Text(check.reason));
        case JournalCheck::State::Unfinished:
            break;
    }
    return QStringLiteral("not sealed: ") + Text(check.reason);
}

QString SignatureText(const JournalCheck& check) {
    if (!check.signedRun) {
        return QStringLiteral("not signed");
    }
    return QStringLiteral("signed by %1, Ed25519 key %2")
        .arg(check.signer.empty() ? QStringLiteral("an unnamed signer") : Text(check.signer),
             Text(check.publicKey));
}

// "2026-12-09T10:41:17.125+01:00" as the table shows it: the time of day; the date and the
// offset are in the header.
QString TimeOfDay(const std::string& text) {
    return text.size() >= 23 ? Text(text.substr(11, 12)) : Text(text);
}

// The header's rows: label, value.
std::vector<std::pair<QString, QString>> HeaderRows(const JournalContents& run) {
    const auto type = static_cast<DeviceType>(run.deviceType);
    QString instrument = Text(std::string(ModelOf(type).name));
    if (run.simulated) {
        instrument += QStringLiteral(" (the built-in simulated shaker)");
    }
    return {
        {QStringLiteral("Instrument"), instrument},
        {QStringLiteral("Device ID"), Text(run.deviceId)},
        {QStringLiteral("Device type"), QString::number(run.deviceType)},
        {QStringLiteral("Port"), Text(run.port)},
        {QStringLiteral("Started by"),
         run.startedBy.empty() ? QStringLiteral("(not recorded)") : Text(run.startedBy)},
        {QStringLiteral("Start"), Text(run.startText)},
        {QStringLiteral("End"),
         run.endText.empty() ? QStringLiteral("(never ended)") : Text(run.endText)},
        {QStringLiteral("Speed setpoint"), QString::number(run.speedSetpoint) + " 1/min"},
        {QStringLiteral("Time setpoint"), QString::number(run.timeSetpoint)},
        {QStringLiteral("End reason"), run.endReason.empty()
                                           ? QStringLiteral("(none: the run never ended)")
                                           : Text(run.endReason)},
        {QStringLiteral("Samples"), QString::number(run.samples.size())},
        {QStringLiteral("Seal"), SealText(run.check)},
        {QStringLiteral("Signature"), SignatureText(run.check)},
        {QStringLiteral("Program version"), Text(run.programVersion)},
        {QStringLiteral("Journal"), Text(run.path)},
    };
}

}  // namespace

bool WriteRunReport(const JournalContents& run, const std::string& pdfPath, std::string* error) {
    const QString path = QString::fromStdString(pdfPath);
    QPdfWriter writer(path);
    writer.setResolution(kResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Run of %1 on %2").arg(Text(run.startText), Text(run.deviceId)));
    writer.setCreator(QStringLiteral("Velmora ") + Text(run.programVersion));
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error != nullptr) {
            *error = "Can't write the report " + pdfPath;
        }
        return false;
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(8.5);
    painter.setFont(font);
    const QRectF page = QRectF(QPointF(0, 0), QSizeF(writer.width(), writer.height()));
    const QFontMetricsF metrics(font, &writer);
    const double line = metrics.height() * 1.15;
    const double footerTop = page.bottom() - line;

    // Page 1: the header, the graph, then the table; the table alone on the others.
    const std::vector<std::pair<QString, QString>> rows = HeaderRows(run);
    QFont titleFont = font;
    titleFont.setPointSizeF(14);
    titleFont.setBold(true);
    const double titleHeight = QFontMetricsF(titleFont, &writer).height() * 1.4;
    const double graphTop = titleHeight + line * (static_cast<double>(rows.size()) + 0.8);
    const double graphHeight = 80 * kMillimetre;
    const double firstTableTop = graphTop + graphHeight + line;

    // Two blocks of columns side by side: Sample, Speed, Reading, Remaining, Local time.
    const std::array<QString, 5> heads = {"Sample", "Speed", "Reading", "Remaining", "Local time"};
    const double blockWidth = page.width() / 2;
    const std::array<double, 5> columnRight = {0.16, 0.30, 0.47, 0.68, 0.97};
    const auto rowsOnPage = [&](double top) {
        return std::max(1, static_cast<int>((footerTop - line - top) / line) - 1);
    };
    const int firstRows = rowsOnPage(firstTableTop) * 2;
    const int laterRows = rowsOnPage(0) * 2;
    const int samples = static_cast<int>(run.samples.size());
    const int pages =
        1 + (samples > firstRows ? (samples - firstRows + laterRows - 1) / laterRows : 0);

    const auto footer = [&](int number) {
        painter.setPen(Qt::darkGray);
        const QString left = QStringLiteral("Page %1 of %2").arg(number).arg(pages);
        const QString right = run.check.digest.empty() ? QStringLiteral("not sealed")
                                                       : "SHA-256 " + Text(run.check.digest);
        painter.drawText(QRectF(0, footerTop, page.width(), line), Qt::AlignLeft, left);
        painter.drawText(QRectF(0, footerTop, page.width(), line), Qt::AlignRight, right);
        painter.setPen(Qt::black);
    };
    const auto table = [&](double top, int first, int count) {
        const int perBlock = (count + 1) / 2;
        for (int block = 0; block < 2; ++block) {
            const double left = block * blockWidth;
            painter.setFont([&] {
                QFont bold = font;
                bold.setBold(true);
                return bold;
            }());
            for (std::size_t c = 0; c < heads.size(); ++c) {
                painter.drawText(QRectF(left, top, blockWidth * columnRight[c], line),
                                 Qt::AlignRight | Qt::AlignVCenter, heads[c]);
            }
            painter.setFont(font);
            painter.drawLine(QPointF(left, top + line),
                             QPointF(left + blockWidth * 0.97, top + line));
            for (int r = 0; r < perBlock; ++r) {
                const int index = first + block * perBlock + r;
                if (index >= first + count || index >= samples) {
                    break;
                }
                const JournalSample& s = run.samples[static_cast<std::size_t>(index)];
                const std::array<QString, 5> cells = {
                    QString::number(s.number), QString::number(s.speed), QString::number(s.reading),
                    QString::number(s.remaining), TimeOfDay(s.localTime)};
                const double y = top + line * (r + 1);
                for (std::size_t c = 0; c < cells.size(); ++c) {
                    painter.drawText(QRectF(left, y, blockWidth * columnRight[c], line),
                                     Qt::AlignRight | Qt::AlignVCenter, cells[c]);
                }
            }
        }
    };

    painter.setFont(titleFont);
    painter.drawText(QRectF(0, 0, page.width(), titleHeight), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("Shaker run report"));
    painter.setFont(font);
    double labelWidth = 0;
    for (const auto& [label, value] : rows) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double y = titleHeight + line * static_cast<double>(i);
        painter.drawText(QRectF(0, y, labelWidth, line), Qt::AlignLeft, rows[i].first);
        painter.drawText(
            QRectF(labelWidth + line, y, page.width() - labelWidth - line, line), Qt::AlignLeft,
            metrics.elidedText(rows[i].second, Qt::ElideMiddle, page.width() - labelWidth - line));
    }
    DrawRunGraph(painter, QRectF(0, graphTop, page.width(), graphHeight), run);
    table(firstTableTop, 0, std::min(samples, firstRows));
    footer(1);
    for (int number = 2, first = firstRows; number <= pages; ++number, first += laterRows) {
        writer.newPage();
        table(0, first, std::min(laterRows, samples - first));
        footer(number);
    }
    if (!painter.end() || QFile(path).size() == 0) {
        if (error != nullptr) {
            *error = "Can't write the report " + pdfPath;
        }
        return false;
    }
    return true;
}
