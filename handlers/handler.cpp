#include "handlers/handler.h"

#include "midi/device.h"
#include "midi/manager.h"

CMIDIDeviceHandler::~CMIDIDeviceHandler() = default;

void CMIDIDeviceHandler::SendSysEx(const uint8_t* bytes, uint16_t length) {
  device->manager.SendSysEx(bytes, length, device);
}

uint32_t CMIDIDeviceHandler::GetSysExBufferSize() {
  return 0;
}

void CMIDIDeviceHandler::MapEvents(std::vector<MIDIEvent>&) {}

void CMIDIDeviceHandler::OnNote(uint8_t) {}

void CMIDIDeviceHandler::OnControlChange(uint8_t, uint8_t) {}

void CMIDIDeviceHandler::UploadPreset() {}
