#pragma once

#include <functional>
#include <string>

class CSerialChannel;

// Asks the operator for the port and baud rate. On OK the channel gets the port
// text unchanged and the baud text read the way atol reads it; on Cancel the channel
// keeps what it had. Choosing "Simulator" calls startSimulator and uses the port it
// returns (without a hook the text goes through unchanged). Returns the dialog's
// result: 1 for OK, 2 for Cancel.
int ChoosePort(CSerialChannel& channel,
               const std::function<std::string()>& startSimulator = nullptr);
