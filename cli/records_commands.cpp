#include "cli/records_commands.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <fstream>

#include "cli/cli_options.h"
#include "report/run_report.h"
#include "run/audit_trail.h"
#include "run/journal_reader.h"
#include "run/journal_seal.h"
#include "run/signing_key.h"

namespace {

int Fail(int code, const std::string& line) {
    std::fprintf(stderr, "velmora-cli: %s\n", line.c_str());
    return code;
}

bool Readable(const std::string& path) {
    return static_cast<bool>(std::ifstream(path, std::ios::binary));
}

// "2026-12-09" (local midnight) or "2026-12-09T10:00[:00][+01:00]" (local unless an offset is
// given).
std::optional<std::chrono::system_clock::time_point> ParseSince(const std::string& text) {
    const QString since = QString::fromStdString(text);
    QDateTime time = QDateTime::fromString(since, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(since, Qt::ISODate);
        if (!date.isValid()) {
            return std::nullopt;
        }
        time = date.startOfDay();
    }
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

// "event  key=value ..." for the fields other than those every line has.
std::string DescribeEntry(const QJsonObject& fields) {
    std::string text = fields.value("time").toString().toStdString() + "  " +
                       fields.value("user").toString().toStdString() + "  " +
                       fields.value("program").toString().toStdString() + "  " +
                       fields.value("event").toString().toStdString();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key() == "time" || it.key() == "user" || it.key() == "program" ||
            it.key() == "event" || it.key() == "prev") {
            continue;
        }
        const QJsonValue value = it.value();
        const QString shown =
            value.isString()
                ? value.toString()
                : QString::fromUtf8(
                      QJsonDocument(QJsonObject{{"v", value}}).toJson(QJsonDocument::Compact))
                      .mid(5)
                      .chopped(1);
        text += "  " + it.key().toStdString() + "=" + shown.toStdString();
    }
    return text;
}

}  // namespace

int AuditVerifyCommand(const std::string& path) {
    if (!Readable(path)) {
        return Fail(kExitUsage, "can't read the audit trail " + path);
    }
    const AuditVerdict verdict = VerifyAuditTrail(path);
    if (!verdict.intact) {
        std::printf("altered at line %d: %s\n", verdict.firstBadLine, verdict.reason.c_str());
        return kExitAltered;
    }
    std::printf("intact: %d lines (%s)\n", verdict.lines, path.c_str());
    return kExitOk;
}

int AuditShowCommand(const std::string& path, const std::string& since, bool json) {
    std::optional<std::chrono::system_clock::time_point> from;
    if (!since.empty()) {
        from = ParseSince(since);
        if (!from) {
            return Fail(kExitUsage,
                        "--since: give a date (2026-12-09) or a date and time "
                        "(2026-12-09T10:00)");
        }
    }
    std::string error;
    const std::vector<AuditEntry> entries = ReadAuditTrail(path, from, &error);
    if (!error.empty()) {
        return Fail(kExitUsage, error);
    }
    for (const AuditEntry& entry : entries) {
        const std::string line = json ? entry.text : DescribeEntry(entry.fields);
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

int VerifyCommand(const std::string& journal, const std::string& key) {
    if (!Readable(journal)) {
        return Fail(kExitUsage, "can't read " + journal);
    }
    std::optional<std::string> expected;
    if (!key.empty()) {
        expected = ReadPublicKeyArgument(key);
        if (expected->empty()) {
            return Fail(kExitUsage, "--key: give a public key (base64) or a file holding one");
        }
    }
    const JournalCheck check = CheckJournalFile(journal, expected);
    switch (check.state) {
        case JournalCheck::State::Sealed:
            std::printf("sealed%s: %s\nsha256 %s\n",
                        check.sealedAfterCrash ? " after an unexpected end" : "", journal.c_str(),
                        check.digest.c_str());
            if (check.signedRun) {
                std::printf("signed by %s (ed25519 %s)\n",
                            check.signer.empty() ? "an unnamed signer" : check.signer.c_str(),
                            check.publicKey.c_str());
            } else {
                std::printf("not signed\n");
            }
            return kExitOk;
        case JournalCheck::State::Altered:
            if (!check.keyMatches) {
                std::printf("not accepted: %s\n", check.reason.c_str());
            } else {
                std::printf("altered at line %d: %s\n", check.alteredLine, check.reason.c_str());
            }
            return kExitAltered;
        case JournalCheck::State::Unfinished:
            break;
    }
    std::printf("unfinished: %s\n", check.reason.c_str());
    return kExitUnfinished;
}

int KeyCommand() {
    const std::string path = CSigningKey::DefaultPath();
    std::string error;
    const auto key = CSigningKey::LoadOrCreate(path, &error);
    if (!key) {
        return Fail(kExitUsage, error);
    }
    std::printf("%s\n", key->PublicKeyBase64().c_str());
    return kExitOk;
}

int ReportCommand(int argc, char** argv, const std::string& journal, const std::string& pdf) {
    std::string error;
    const auto run = ReadJournal(journal, &error);
    if (!run) {
        return Fail(kExitUsage, error.empty() ? "can't read " + journal : error);
    }
    // Drawn without a screen: the report needs fonts and a painter, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    if (!WriteRunReport(*run, pdf, &error)) {
        return Fail(kExitUsage, error);
    }
    return kExitOk;
}
