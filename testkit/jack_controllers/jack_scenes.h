// The sets of virtual controllers jack-controllers can publish.
//
// Each device is one controller of the simulated service behind ports
// named the way a2jmidid names an ALSA device in JACK:
// "a2j:<client> [<id>] (capture): <port>" for what the controller sends and
// "a2j:<client> [<id>] (playback): <port>" for what it receives.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "midi/port/simulated/virtual_controller.h"

namespace jack_controllers {

struct JackDevice {
  std::string alsaClient; // "BCF2000"
  int clientId = 0;       // the ALSA client number a2jmidid shows, [20]
  std::string alsaPort;   // "BCF2000 MIDI 1"
  bool capture = true;    // has a port the controller sends on
  bool playback = true;   // has a port the controller receives on
  std::shared_ptr<port::sim::VirtualController> controller;
  // Added before everything the controller sends, so that the dialogues of
  // several controllers in one test come in a fixed order.
  std::chrono::milliseconds answerDelay{0};
  std::string file; // the base name of its record files
  // A System Exclusive message longer than this goes out as JACK events of
  // at most this many bytes, the first with its F0, the last with its F7,
  // as a2jmidid and PipeWire's bridge pass on the sequencer's pieces of 256
  // bytes; 0 sends every message as one event.
  size_t sysExPieceBytes = 0;
};

// The port's short name within the a2j client.
std::string A2jPortName(const JackDevice& device, bool capture);

// False when there is no scene of that name.
bool BuildJackScene(const std::string& name, std::vector<JackDevice>& devices);
std::vector<std::string> JackSceneNames();

} // namespace jack_controllers
