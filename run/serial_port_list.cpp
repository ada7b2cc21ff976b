#include "run/serial_port_list.h"

#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>
#include <filesystem>

namespace {

constexpr int kComItems = 10;

// Orders names the way people count: /dev/ttyUSB2 before /dev/ttyUSB10.
bool NaturallyBefore(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit()) {
                ++endA;
            }
            while (endB < b.size() && b[endB].isDigit()) {
                ++endB;
            }
            // Compare the runs as numbers without converting them: strip leading
            // zeros, then a longer run is larger, else the first differing digit.
            QStringView runA = QStringView(a).sliced(i, endA - i);
            QStringView runB = QStringView(b).sliced(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0') {
                runA = runA.sliced(1);
            }
            while (runB.size() > 1 && runB.front() == u'0') {
                runB = runB.sliced(1);
            }
            if (runA.size() != runB.size()) {
                return runA.size() < runB.size();
            }
            if (const int order = runA.compare(runB); order != 0) {
                return order < 0;
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

}  // namespace

QString ComPortDevicePath(int number) {
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

void SortNaturally(std::vector<PortListEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const PortListEntry& a, const PortListEntry& b) {
                         return NaturallyBefore(a.text, b.text);
                     });
}

std::vector<PortListEntry> ExtraPortEntries(std::vector<PortListEntry> devices) {
    QSet<QString> skipped;
    for (int number = 1; number <= kComItems; ++number) {
        skipped.insert(ComPortDevicePath(number));
    }
    std::vector<PortListEntry> entries;
    for (PortListEntry& device : devices) {
        if (device.text.isEmpty() || skipped.contains(device.text)) {
            continue;
        }
        skipped.insert(device.text);
        entries.push_back(std::move(device));
    }
    SortNaturally(entries);
    entries.push_back(PortListEntry{kSimulatorPortItem, QStringLiteral("simulated shaker")});
    return entries;
}

std::vector<PortListEntry> DetectSerialDevices() {
    std::vector<PortListEntry> devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        QString description = port.description();
        if (description.isEmpty()) {
            description = port.manufacturer();
        }
        devices.push_back(PortListEntry{port.systemLocation(), description});
    }
    return devices;
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
