// Which controller family gets which dialogue.
#pragma once

#include <memory>

class CMIDIDeviceHandler;

// The handler for a model code, or none for families without a dialogue.
std::unique_ptr<CMIDIDeviceHandler> CreateHandler(char modelCode);
