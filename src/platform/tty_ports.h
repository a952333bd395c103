// The serial ports of the machine: tty devices that are real ports.
#pragma once

#include <string>
#include <vector>

// Fills names with the /dev paths of the tty devices under ttyClassDir (normally
// /sys/class/tty) that have a device behind them; a ttyS entry counts only when its port
// has a UART. Unsorted. False, with names empty, when the directory cannot be read.
bool ListTtyPorts(std::vector<std::string>& names,
                  const std::string& ttyClassDir = "/sys/class/tty");
