#include "cli/port_listing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>

#include "cli/cli_options.h"
#include "run/printable_text.h"
#include "run/serial_port_list.h"

std::vector<ListedPort> ListPorts() {
    // The same devices, in the same order, as the port dialog lists them.
    std::vector<PortListEntry> devices;
    for (PortListEntry& device : DetectSerialDevices()) {
        const bool seen = std::any_of(devices.begin(), devices.end(),
                                      [&device](const auto& d) { return d.text == device.text; });
        if (!device.text.isEmpty() && !seen) {
            devices.push_back(std::move(device));
        }
    }
    SortNaturally(devices);
    std::vector<ListedPort> ports;
    // A description is what the adapter says of itself, and a by-id name is made from it.
    for (const PortListEntry& device : devices) {
        const std::string path = device.text.toStdString();
        std::vector<std::string> links;
        for (const std::string& link : ByIdLinksTo(path)) {
            links.push_back(PrintableText(link));
        }
        ports.push_back(ListedPort{PrintableText(path),
                                   PrintableText(device.description.toStdString()),
                                   std::move(links)});
    }
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
