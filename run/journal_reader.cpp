#include "run/journal_reader.h"

#include "run/whole_file.h"

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

int ToInt(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<std::chrono::system_clock::time_point> ParseTime(std::string_view text) {
    const QDateTime time = QDateTime::fromString(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), Qt::ISODateWithMs);
    if (!time.isValid()) {
        return std::nullopt;
    }
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}

// The fields of a tab-separated line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string_view::npos ? tab : tab - at));
        if (tab == std::string_view::npos) {
            return fields;
        }
        at = tab + 1;
    }
}

// The lines after the end line that make the seal: they are the seal's, not the run's.
bool IsSealLine(std::string_view line) {
    return StartsWith(line, "# line digests\t") || StartsWith(line, "# signing key\t") ||
           StartsWith(line, "# sha256 ") || StartsWith(line, "# signature ");
}

std::string Rest(std::string_view line, std::string_view tag) {
    return std::string(line.substr(tag.size()));
}

}  // namespace

std::optional<JournalContents> ParseJournalText(std::string_view text, const std::string& path,
                                                std::string* error, bool samples) {
    JournalContents run;
    run.path = path;
    bool columns = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) {
            continue;
        }
        if (line[0] != '#') {
            if (!samples) {
                // Whole sample lines have four or five fields; a torn one fewer.
                run.sampleCount += std::count(line.begin(), line.end(), '\t') >= 3;
                continue;
            }
            const std::vector<std::string_view> f = Fields(line);
            // Journals of version 1.1 had no reading column.
            JournalSample sample;
            if (f.size() == 5) {
                sample = {ToInt(f[0]), ToInt(f[1]), ToInt(f[2]), ToInt(f[3]), std::string(f[4])};
            } else if (f.size() == 4) {
                sample = {ToInt(f[0]), ToInt(f[1]), ToInt(f[1]), ToInt(f[2]), std::string(f[3])};
            } else {
                continue;  // a line torn by a power cut
            }
            run.samples.push_back(std::move(sample));
            ++run.sampleCount;
        } else if (StartsWith(line, "#sample\t")) {
            columns = true;
        } else if (StartsWith(line, "# end\t")) {
            const std::vector<std::string_view> f = Fields(line);
            run.endReason = f.size() > 1 ? std::string(f[1]) : std::string();
            run.endText = f.size() > 2 ? std::string(f[2]) : std::string();
        } else if (IsSealLine(line)) {
        } else if (!columns && StartsWith(line, "# start\t")) {
            run.startText = Rest(line, "# start\t");
            run.start = ParseTime(run.startText);
        } else if (!columns && StartsWith(line, "# port\t")) {
            run.port = Rest(line, "# port\t");
        } else if (!columns && StartsWith(line, "# device ID\t")) {
            run.deviceId = Rest(line, "# device ID\t");
        } else if (!columns && StartsWith(line, "# device type\t")) {
            run.deviceType = ToInt(line.substr(sizeof "# device type\t" - 1));
        } else if (!columns && StartsWith(line, "# speed setpoint (1/min)\t")) {
            run.speedSetpoint = ToInt(line.substr(sizeof "# speed setpoint (1/min)\t" - 1));
        } else if (!columns && StartsWith(line, "# time setpoint\t")) {
            run.timeSetpoint = ToInt(line.substr(sizeof "# time setpoint\t" - 1));
        } else if (!columns && StartsWith(line, "# program version\t")) {
            run.programVersion = Rest(line, "# program version\t");
        } else if (!columns && StartsWith(line, "# started by\t")) {
            run.startedBy = Rest(line, "# started by\t");
        } else if (!columns && line == "# simulation") {
            run.simulated = true;
        } else if (columns) {
            run.notes.push_back(
                std::string(line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1)));
        }
    }
    if (!columns && run.startText.empty()) {
        if (error != nullptr) {
            *error = path + " is not a run journal";
        }
        return std::nullopt;
    }
    run.check = CheckJournalText(text);
    return run;
}

std::optional<JournalContents> ReadJournal(const std::string& path, std::string* error,
                                           bool samples) {
    const std::optional<std::string> text = ReadWholeFile(path);
    if (!text) {
        if (error != nullptr) {
            *error = "Can't read " + path + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    return ParseJournalText(*text, path, error, samples);
}
