// What a Windows MIDI stack does, as the simulated service plays it: how
// fast it and its controllers are, how it names ports and tells their
// device, what it reports of broken input and how a send that stalls ends.
// Each preset is as strict as the Windows stack it stands for.
#pragma once

#include <chrono>

namespace port::sim {

// How winmm names the ports of a USB MIDI device.
enum class PortNaming {
  // The legacy stack: the first port of each direction bears the device's
  // name, later ones "MIDIINn (name)" / "MIDIOUTn (name)", a second unit
  // of a model "2- name".
  Classic,
  // Windows MIDI Services before its November 2026 update: the classic
  // names, but every unit of one USB product bears the same ones (two
  // nanoKONTROL2 give two inputs and two outputs named "nanoKONTROL2").
  ClassicSharedByUnits,
  // Windows MIDI Services' default from its November 2026 update: a port
  // whose USB jack the device names bears that jack's name, so the input
  // and output of one device may be named differently; the others keep the
  // classic names; a second unit of a model is "name (2)".
  Automatic,
};

// What winmm answers when asked for the device interface of a port
// (DRV_QUERYDEVICEINTERFACE).
enum class DeviceQuery {
  Answered,     // the path of the port's device
  NotSupported, // MMSYSERR_NOTSUPPORTED, as Wine's own drivers answer
  Empty,        // an empty text, as some service builds before November 2025
};

struct ServiceModel {
  // The bytes of a long message are with the device before midiOutLongMsg
  // returns: its header comes back done inside the call.
  bool sendDoneInCall = false;
  // What a controller's answer takes at least, from the moment the message
  // it answers reached it.
  std::chrono::microseconds answerLatency{0};
  // How long a System Exclusive message that finds no queued buffer waits
  // for one at its F0, and when the buffers run out in its middle. Once a
  // wait has run out, later messages that find no buffer are dropped at
  // once, until one finds a buffer at its F0.
  std::chrono::microseconds bufferWaitAtStart{0};
  std::chrono::microseconds bufferWaitInMiddle{0};
  // Windows MIDI Services reads the bytes off the wire itself: a short
  // message reaches the callback only as it frames one (System Exclusive cut
  // into short-message packets goes into the long-message buffers like any
  // other), and what it cannot read is dropped, never reported as MIM_ERROR;
  // it knows no MIM_MOREDATA. The classic stack passes on what its driver
  // reports, packets, broken messages and unknown codes included.
  bool readsTheWire = false;
  PortNaming naming = PortNaming::Classic;
  DeviceQuery deviceQuery = DeviceQuery::Answered;
  // Device interface paths in lower case, as Windows MIDI Services gives
  // them; the classic stack keeps the driver's case.
  bool lowerCaseDevicePaths = false;
  // A send the device stops taking: midiOutLongMsg waits this long for it,
  // then answers MMSYSERR_ERROR, and later sends on the port fail at once.
  std::chrono::milliseconds stalledSendLimit{1000};
  // Whether the stalled send's header then comes back done; before
  // November 2026 it never did.
  bool stalledSendComesBack = false;
  // Windows MIDI Services lets several clients open one output: a second
  // midiOutOpen succeeds where the classic drivers answer
  // MMSYSERR_ALLOCATED.
  bool outputsTakeSeveralClients = false;

  // The classic driver stack: sends are taken by the call and given back
  // at release, controllers answer at once, and a SysEx that finds no
  // buffer is lost at once.
  static ServiceModel Classic() { return {}; }
  // Windows MIDI Services behind winmm as it ships from November 2026: sends
  // complete inside the call, controllers answer within a millisecond, a
  // SysEx waits 1 ms for a buffer at its start and 10 ms in its middle,
  // nothing broken is reported, ports are named "Automatic", and a stalled
  // send fails after 4 s with its buffer back.
  static ServiceModel CurrentWindows() {
    ServiceModel model = CurrentWindowsBeforeNovember2026();
    model.naming = PortNaming::Automatic;
    model.stalledSendLimit = std::chrono::milliseconds(4000);
    model.stalledSendComesBack = true;
    return model;
  }
  // The same service before its November 2026 update: classic names that
  // the units of one product share, and a stalled send fails after 1 s and
  // keeps its buffer for good. Both let several clients open an output.
  static ServiceModel CurrentWindowsBeforeNovember2026() {
    ServiceModel model;
    model.naming = PortNaming::ClassicSharedByUnits;
    model.outputsTakeSeveralClients = true;
    model.sendDoneInCall = true;
    model.answerLatency = std::chrono::milliseconds(1);
    model.bufferWaitAtStart = std::chrono::milliseconds(1);
    model.bufferWaitInMiddle = std::chrono::milliseconds(10);
    model.readsTheWire = true;
    model.lowerCaseDevicePaths = true;
    return model;
  }
};

} // namespace port::sim
