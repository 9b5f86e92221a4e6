#include "midi/port/shared/port_names.h"

#include <cctype>

namespace port::shared {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// a2jmidid: "<client> [<id>] (capture): <port>". The marker sits between the
// bracketed client id and the colon before the ALSA port's name.
std::string WithoutA2jMarker(const std::string& name, const std::string& marker) {
  const std::string withContext = "] " + marker + ": ";
  const std::string::size_type at = name.find(withContext);
  if (at == std::string::npos) return name;
  return name.substr(0, at) + "]: " + name.substr(at + withContext.size());
}

// JACK's own ports: "system:midi_capture_1" and "system:midi_playback_1".
std::string WithoutSystemMarker(const std::string& name, const std::string& marker) {
  const std::string prefix = "system:midi_" + marker + "_";
  if (!StartsWith(name, prefix)) return name;
  return "system:midi_" + name.substr(prefix.size());
}

} // namespace

std::string DisplayPortName(const std::string& rawName, Direction direction, bool jack) {
  if (!jack) return rawName;
  // A port we read from is a capture port of its device, one we write to a
  // playback port; the other word is left alone where it appears.
  const std::string marker = direction == Direction::Input ? "capture" : "playback";
  return WithoutSystemMarker(WithoutA2jMarker(rawName, "(" + marker + ")"), marker);
}

bool IsOwnPort(const std::string& rawName, const std::string& clientName) {
  if (!StartsWith(rawName, clientName)) return false;
  std::string::size_type at = clientName.size();
  if (at < rawName.size() && rawName[at] == '-') {
    const std::string::size_type digits = at + 1;
    at = digits;
    while (at < rawName.size() && std::isdigit(static_cast<unsigned char>(rawName[at]))) ++at;
    if (at == digits) return false;
  }
  return at < rawName.size() && rawName[at] == ':';
}

} // namespace port::shared
