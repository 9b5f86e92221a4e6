// The input path: everything a controller sends enters the tool here.
//
// Threads: all of it runs on the thread on which the port layer delivers the
// port's events, one event at a time per port, never on the main thread.
// The decoding state of each device is touched by this path alone.
#pragma once

#include <cstdint>

#include "midi/port/port.h"

class CMIDIDevice;
class CMIDIManager;

// The port callback. context is the port's device record (a CMIDIDeviceWin).
void MidiInProc(port::InputHandle port, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t param2);

// The manager's decoder of one three-byte short-message packet: starts the
// device's activity worker on its first packet, assembles System Exclusive
// sent as packets, and hands the rest to the handler and the listeners.
void DecodeShortMessageOf(CMIDIManager& manager, const uint8_t* packet, CMIDIDevice* device);

// Adds one three-byte packet to the System Exclusive message being
// assembled and delivers the message once its end byte has arrived.
void AppendSysExPacket(const uint8_t* packet, CMIDIDevice* device);

// Longest System Exclusive message that can be delivered: its length travels
// as an unsigned 16-bit count.
constexpr uint32_t kMaxSysExLength = 65535;
