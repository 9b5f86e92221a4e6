#include "midi/port/simulated/windows_port_names.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

namespace port::sim {

namespace {

// The first `count` characters of UTF-8 text: winmm counts UTF-16 units,
// which for the names of MIDI devices are their characters.
std::string FirstCharacters(const std::string& text, size_t count) {
  size_t characters = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    const bool continuation = (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    if (continuation) continue;
    if (characters == count) return text.substr(0, at);
    ++characters;
  }
  return text;
}

uint32_t Fnv1a(const std::string& text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

} // namespace

std::string WindowsPortName(PortNaming naming, const std::string& deviceName, const std::string& jack,
                            port::Direction direction, unsigned number, unsigned unit) {
  std::string name;
  if (naming == PortNaming::Automatic && !jack.empty()) {
    name = jack;
  } else if (number <= 1) {
    name = deviceName;
  } else {
    name =
        (direction == port::Direction::Input ? "MIDIIN" : "MIDIOUT") + std::to_string(number) + " (" + deviceName + ")";
  }
  if (unit > 1 && naming != PortNaming::ClassicSharedByUnits) {
    name =
        naming == PortNaming::Automatic ? name + " (" + std::to_string(unit) + ")" : std::to_string(unit) + "- " + name;
  }
  return FirstCharacters(name, kMaxPortNameLength);
}

std::string DeviceInterfacePath(const std::string& deviceName, unsigned unit, bool lowerCase) {
  // A USB device's interface: vendor and product from its name, the unit's
  // instance, the MIDI interface class.
  const uint32_t id = Fnv1a(deviceName);
  char path[160];
  std::snprintf(path, sizeof path,
                "\\\\?\\USB#VID_%04X&PID_%04X&MI_00#7&%08X&0&%04u#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\GLOBAL",
                static_cast<unsigned>(id >> 16), static_cast<unsigned>(id & 0xFFFF), Fnv1a(deviceName + "#unit"), unit);
  std::string text = path;
  if (lowerCase) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

} // namespace port::sim
