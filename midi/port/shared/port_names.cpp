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

namespace {

// The decimal number that starts at `at`, or "" when none does.
std::string DigitsAt(const std::string& text, std::string::size_type at) {
  std::string::size_type end = at;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  return text.substr(at, end - at);
}

std::string AlsaClient(const std::string& number) {
  return number.empty() ? std::string() : "alsa:" + number;
}

} // namespace

std::string DeviceOfPort(const std::string& rawName, bool jack) {
  if (!jack) {
    // RtMidi's ALSA names end in " CLIENT:PORT".
    const std::string::size_type colon = rawName.rfind(':');
    const std::string::size_type blank = rawName.rfind(' ', colon);
    if (colon == std::string::npos || blank == std::string::npos) return std::string();
    const std::string client = DigitsAt(rawName, blank + 1);
    const std::string portNumber = DigitsAt(rawName, colon + 1);
    if (blank + 1 + client.size() != colon || colon + 1 + portNumber.size() != rawName.size()) return std::string();
    return AlsaClient(portNumber.empty() ? std::string() : client);
  }
  static const std::string kPipeWire = "alsa:seq:";
  if (StartsWith(rawName, kPipeWire)) {
    const std::string::size_type at = rawName.find(":client_", kPipeWire.size());
    return at == std::string::npos ? std::string() : AlsaClient(DigitsAt(rawName, at + 8));
  }
  if (StartsWith(rawName, "a2j:")) {
    // The bracketed client number before the direction marker.
    for (const char* marker : {"] (capture): ", "] (playback): "}) {
      const std::string::size_type close = rawName.find(marker);
      if (close == std::string::npos) continue;
      const std::string::size_type open = rawName.rfind(" [", close);
      if (open == std::string::npos) return std::string();
      const std::string client = DigitsAt(rawName, open + 2);
      return open + 2 + client.size() == close ? AlsaClient(client) : std::string();
    }
  }
  return std::string();
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
