#pragma once

#include <string>
#include <vector>

// A serial device as the port dialog lists it, with the /dev/serial/by-id names that lead to it.
struct ListedPort {
    std::string path;
    std::string description;
    std::vector<std::string> byIdLinks;
};

// The machine's serial devices in the order people count them (/dev/ttyUSB2 before
// /dev/ttyUSB10), then the simulator.
std::vector<ListedPort> ListPorts();

// One device a line: path, description and by-id links, tab-separated; or a JSON array.
std::string FormatPortList(const std::vector<ListedPort>& ports, bool json);
