// How Windows names the ports of a USB MIDI device, and the device
// interface path it gives all of them: the rules the simulated service and
// the stand-in winmm.dll name their ports by.
#pragma once

#include <string>

#include "midi/port/port.h"
#include "midi/port/simulated/service_model.h"

namespace port::sim {

// winmm's names hold at most 31 characters (MAXPNAMELEN less the zero).
constexpr size_t kMaxPortNameLength = 31;

// The name of a device's port. deviceName is the product's name, jack the
// name the device gives the port's USB jack ("" for none), number the
// port's place among the device's ports of that direction (from 1), unit
// the device's place among the connected devices of its name (from 1),
// which only some namings show.
std::string WindowsPortName(PortNaming naming, const std::string& deviceName, const std::string& jack,
                            port::Direction direction, unsigned number, unsigned unit);

// The device interface path of a device: the same for all its ports, and
// different for a second unit of the same model.
std::string DeviceInterfacePath(const std::string& deviceName, unsigned unit, bool lowerCase);

} // namespace port::sim
