#include "cli/port_listing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "cli/cli_options.h"

namespace {

// Digit runs compare as numbers, everything else character by character.
bool NaturallyBefore(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA]))) {
                ++endA;
            }
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB]))) {
                ++endB;
            }
            std::string_view runA(a.data() + i, endA - i);
            std::string_view runB(b.data() + j, endB - j);
            while (runA.size() > 1 && runA.front() == '0') {
                runA.remove_prefix(1);
            }
            while (runB.size() > 1 && runB.front() == '0') {
                runB.remove_prefix(1);
            }
            if (runA.size() != runB.size()) {
                return runA.size() < runB.size();
            }
            if (runA != runB) {
                return runA < runB;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ByIdLinksTo(const std::string& devicePath) {
    std::vector<std::string> links;
    std::error_code error;
    const auto target = std::filesystem::canonical(devicePath, error);
    if (error) {
        return links;
    }
    for (const auto& entry : std::filesystem::directory_iterator("/dev/serial/by-id", error)) {
        std::error_code linkError;
        if (std::filesystem::canonical(entry.path(), linkError) == target && !linkError) {
            links.push_back(entry.path().string());
        }
    }
    std::sort(links.begin(), links.end());
    return links;
}

}  // namespace

std::vector<ListedPort> ListPorts() {
    std::vector<ListedPort> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (description.isEmpty()) {
            description = info.manufacturer();
        }
        const std::string path = info.systemLocation().toStdString();
        if (path.empty() || std::any_of(ports.begin(), ports.end(),
                                        [&path](const ListedPort& p) { return p.path == path; })) {
            continue;
        }
        ports.push_back(ListedPort{path, description.toStdString(), ByIdLinksTo(path)});
    }
    std::stable_sort(ports.begin(), ports.end(), [](const ListedPort& a, const ListedPort& b) {
        return NaturallyBefore(a.path, b.path);
    });
    ports.push_back(ListedPort{kSimulatorPort, "simulated shaker", {}});
    return ports;
}

std::string FormatPortList(const std::vector<ListedPort>& ports, bool json) {
    if (json) {
        QJsonArray array;
        for (const ListedPort& port : ports) {
            QJsonArray links;
            for (const std::string& link : port.byIdLinks) {
                links.append(QString::fromStdString(link));
            }
            array.append(QJsonObject{{"port", QString::fromStdString(port.path)},
                                     {"description", QString::fromStdString(port.description)},
                                     {"by_id", links}});
        }
        return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString() + "\n";
    }
    std::string text;
    for (const ListedPort& port : ports) {
        text += port.path + "\t" + (port.description.empty() ? "-" : port.description);
        for (const std::string& link : port.byIdLinks) {
            text += "\t" + link;
        }
        text += "\n";
    }
    return text;
}
