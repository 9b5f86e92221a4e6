#include "midi/input.h"

#include <algorithm>
#include <cstring>

#include "app/log_sink.h"
#include "app/log_texts.h"
#include "handlers/handler.h"
#include "midi/device.h"
#include "midi/listener.h"
#include "midi/manager.h"

namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;

void GiveBufferBack(CMIDIDeviceWin* device) {
  const port::Result result = device->service.AddInputBuffer(device->inputHandle, device->inputHeader);
  if (result != port::kNoError) app::ConsolePrintf("midiInAddBuffer MMSYSERR %d", static_cast<int>(result));
}

void OnShortMessage(CMIDIDeviceWin* device, uintptr_t word) {
  const uint8_t packet[3] = {static_cast<uint8_t>(word & 0xFF), static_cast<uint8_t>((word >> 8) & 0xFF),
                             static_cast<uint8_t>((word >> 16) & 0xFF)};
  app::LogPrintf(app::logtext::kShortMessage, packet[0], packet[1], packet[2]);
  device->manager.DecodeShortMessage(packet, device);
  device->service.KeepAwake();
}

void OnLongMessage(CMIDIDeviceWin* device) {
  port::MidiHeader& header = device->inputHeader;
  // A device without a handler has no buffer; there is nothing to deliver
  // and nothing to give back.
  if (header.lpData == nullptr) return;
  // Never trust the recorded count beyond the buffer's own size.
  const uint32_t recorded = std::min(header.dwBytesRecorded, header.dwBufferLength);
  if (recorded != 0) device->OnSysExReceived(header.lpData, static_cast<uint16_t>(std::min(recorded, kMaxSysExLength)));
  // Only now: the handler has finished with the bytes.
  GiveBufferBack(device);
}

// Adds one three-byte packet to the System Exclusive message being
// assembled and delivers the message once its end byte has arrived.
void AppendSysExPacket(const uint8_t* packet, CMIDIDevice* device);

void DropOversizedSysEx(CMIDIDevice* device) {
  app::LogPrintf(app::logtext::kSysExTooLong, static_cast<unsigned>(kMaxSysExLength));
  device->sysexBuffer.clear();
  device->sysexBuffer.shrink_to_fit();
}

} // namespace

void MidiInProc(port::InputHandle, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t) {
  auto* device = reinterpret_cast<CMIDIDeviceWin*>(context);
  switch (message) {
    case port::kEventOpen:
      app::LogPrintf("%s", app::logtext::kPortOpened);
      break;
    case port::kEventClose:
      app::LogPrintf("%s", app::logtext::kPortClosed);
      break;
    case port::kEventData:
      OnShortMessage(device, param1);
      break;
    case port::kEventLongData:
      OnLongMessage(device);
      break;
    case port::kEventError:
      app::LogPrintf("%s", app::logtext::kBrokenShortMessage);
      break;
    case port::kEventLongError:
      app::LogPrintf("%s", app::logtext::kBrokenLongMessage);
      if (device->inputHeader.lpData != nullptr) GiveBufferBack(device);
      break;
    default:
      break;
  }
}

// The manager's decoder: starts the device's activity worker on its first
// packet, assembles System Exclusive sent as packets, and hands the rest to
// the handler and the listeners.
void CMIDIManager::DecodeShortMessage(const uint8_t* packet, CMIDIDevice* device) {
  if (!device->workerStarted) {
    // Set only once a worker runs, so a failed start is tried again on the
    // device's next message.
    if (StartActivityWorker()) device->workerStarted = true;
  }
  if (device->sysexInProgress) {
    AppendSysExPacket(packet, device);
    return;
  }
  const uint8_t status = packet[0];
  const uint8_t data1 = packet[1];
  const uint8_t data2 = packet[2];
  const uint8_t channel = status & 0x0F;
  CMIDIDeviceHandler* handler = device->handler;

  if (status == 0xBF || status == 0xB0 || status == 0xBA) {
    if (handler != nullptr) handler->OnControlChange(data1, data2);
    if (data2 <= 127) {
      for (CMIDIListener* listener : listeners) listener->OnControlChange(device, channel, data1, data2);
    }
  } else if ((status & 0xF0) == 0x90) {
    if (handler != nullptr) handler->OnNote(data1);
    for (CMIDIListener* listener : listeners) listener->OnNoteOn(device, channel, data1, data2);
  } else if ((status & 0xF0) == 0x80) {
    if (handler != nullptr) handler->OnNote(data1);
    for (CMIDIListener* listener : listeners) listener->OnNoteOff(device, channel, data1, data2);
  } else if ((status & 0xF0) == 0xE0) {
    const uint16_t value = static_cast<uint16_t>((data2 << 7) | data1);
    for (CMIDIListener* listener : listeners) listener->OnPitchBend(device, channel, value);
  } else if (status == kSysExStart) {
    device->sysexInProgress = true;
    AppendSysExPacket(packet, device);
  }
}

namespace {

void AppendSysExPacket(const uint8_t* packet, CMIDIDevice* device) {
  std::vector<uint8_t>& buffer = device->sysexBuffer;
  const bool endInPacket = std::find(packet, packet + 3, kSysExEnd) != packet + 3;

  if (device->sysexOverflow) {
    // The rest of an oversized message: skipped up to its end byte.
    if (endInPacket) {
      device->sysexOverflow = false;
      device->sysexInProgress = false;
    }
    return;
  }

  // Only the bytes of this packet are searched: an end byte in an earlier
  // packet was already seen when that packet came.
  buffer.insert(buffer.end(), packet, packet + 3);
  if (buffer.size() > kMaxSysExLength) {
    // Its length would not fit the 16-bit count of a delivery.
    DropOversizedSysEx(device);
    if (endInPacket) {
      device->sysexInProgress = false;
    } else {
      device->sysexOverflow = true;
    }
    return;
  }
  if (!endInPacket) return;

  device->sysexInProgress = false;
  // The whole buffer, bytes after the end byte in the last packet included.
  device->OnSysExReceived(buffer.data(), static_cast<uint16_t>(buffer.size()));
  buffer.clear();
}

} // namespace

void CMIDIDevice::OnSysExReceived(const uint8_t* bytes, uint16_t length) {
  // One piece: with other devices and the workers logging meanwhile, a dump
  // apart from its heading could be read as another device's.
  app::LogLineAndHexDump(app::logtext::kSysExReceived, bytes, length);
  if (handler != nullptr) handler->OnSysEx(bytes, length);
}
