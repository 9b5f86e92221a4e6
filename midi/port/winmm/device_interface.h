// Which device a winmm port belongs to: the device interface path the
// service gives for a port index (DRV_QUERYDEVICEINTERFACESIZE, then
// DRV_QUERYDEVICEINTERFACE, sent with the index in place of a handle). All
// ports of one USB device share it; Windows MIDI Services gives it in lower
// case, the classic stack answers it in winmm itself, Wine's drivers answer
// MMSYSERR_NOTSUPPORTED and some service builds of 2025 an empty text.
#pragma once

#include <string>

#include "midi/port/port.h"

namespace port::winmm {

// The path in UTF-8, or the service's result code.
[[nodiscard]] Result QueryDeviceInterface(Direction direction, unsigned index, std::string& path);

} // namespace port::winmm
