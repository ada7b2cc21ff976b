#pragma once

#include <QString>
#include <vector>

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
std::vector<PortListEntry> ExtraPortEntries(std::vector<PortListEntry> devices);

// The serial devices this machine has right now, by path, with their USB
// description where there is one.
std::vector<PortListEntry> DetectSerialDevices();
