// The input path: everything a controller sends enters the tool here.
//
// It also defines the manager's decoder, CMIDIManager::DecodeShortMessage,
// and the device's delivery of a whole System Exclusive message,
// CMIDIDevice::OnSysExReceived: both belong to this path.
//
// Threads: it runs on the thread on which the port layer delivers the
// port's events, one event at a time per port. "port opened" comes before
// the open returns: inside it, on the opening thread, from the RtMidi, JACK
// and simulated services; on the port's relay thread from winmm, while the
// open waits for it. The decoding state of each
// device is touched by this path alone.
#pragma once

#include <cstdint>

#include "midi/port/port.h"

// The port callback. context is the port's device record (a CMIDIDeviceWin).
void MidiInProc(port::InputHandle port, uint32_t message, uintptr_t context, uintptr_t param1, uintptr_t param2);

// Longest System Exclusive message that can be delivered: its length travels
// as an unsigned 16-bit count.
constexpr uint32_t kMaxSysExLength = 65535;
