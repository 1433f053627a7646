#pragma once
// The list of the machine's serial ports.

#include <string>
#include <vector>

// Fills the port names (bare names such as ttyUSB0, usable as "ComName")
// and their friendly names, for the tty devices backed by hardware, in
// natural order. Both lists are emptied first; true when a port was found.
// Friendly names come from /dev/serial/by-id, else from the USB product
// string, else "Serial port (<name>)". The folders can be replaced (tests).
bool EnumSerialPorts(std::vector<std::string>& portNames, std::vector<std::string>& friendlyNames,
                     const std::string& ttyClassDir = "/sys/class/tty",
                     const std::string& byIdDir = "/dev/serial/by-id");
