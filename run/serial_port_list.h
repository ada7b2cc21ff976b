#pragma once

#include <QString>
#include <string>
#include <vector>

// The serial devices a port choice offers (the port dialog's and velmora-cli's). No widgets.

// One entry of the port list: the text that is exchanged (a bare name or path) and
// a description shown beside it.
struct PortListEntry {
    QString text;
    QString description;
};

// The item that stands for the simulated instrument.
inline const QString kSimulatorPortItem = QStringLiteral("Simulator");

// The device a "COMn" name opens.
QString ComPortDevicePath(int number);

// The entries that follow the ten "COMn" items: the machine's serial devices in
// natural order of their paths, leaving out /dev/ttyS0 ... /dev/ttyS9 (which COM1 ...
// COM10 already stand for) and duplicates, then the simulator.
// Sorts by path in the order people count them (/dev/ttyUSB2 before /dev/ttyUSB10).
void SortNaturally(std::vector<PortListEntry>& entries);

std::vector<PortListEntry> ExtraPortEntries(std::vector<PortListEntry> devices);

// The serial devices this machine has right now, by path, with their USB
// description where there is one.
std::vector<PortListEntry> DetectSerialDevices();

// The /dev/serial/by-id names that lead to a device, so that an adapter that comes back under
// another ttyUSB number is still found.
std::vector<std::string> ByIdLinksTo(const std::string& devicePath);
