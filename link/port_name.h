#pragma once

#include <string>

// The device path a port name opens: "COMn" in any case is /dev/ttyS<n-1>, a name holding '/'
// is a path as it stands, any other name is looked up in /dev. Empty for an empty name.
std::string SerialDevicePath(const std::string& portName);
