// Port names on JACK: both halves of a device must carry one name to pair.
#include "midi/port/shared/port_names.h"

#include <gtest/gtest.h>

namespace {

using port::shared::Direction;

struct NameCase {
  const char* raw;
  Direction direction;
  bool jack;
  const char* shown;
};

TEST(PortNames, DirectionMarkersAreRemovedOnJackOnly) {
  const NameCase cases[] = {
      {"a2j:BCF2000 [20] (capture): BCF2000 MIDI 1", Direction::Input, true, "a2j:BCF2000 [20]: BCF2000 MIDI 1"},
      {"a2j:BCF2000 [20] (playback): BCF2000 MIDI 1", Direction::Output, true, "a2j:BCF2000 [20]: BCF2000 MIDI 1"},
      {"system:midi_capture_1", Direction::Input, true, "system:midi_1"},
      {"system:midi_playback_12", Direction::Output, true, "system:midi_12"},
      // Only the marker of the port's own direction is a marker.
      {"a2j:BCF2000 [20] (playback): BCF2000 MIDI 1", Direction::Input, true,
       "a2j:BCF2000 [20] (playback): BCF2000 MIDI 1"},
      {"system:midi_capture_1", Direction::Output, true, "system:midi_capture_1"},
      // The word in a device's own name is left alone.
      {"a2j:Capture Box [24] (capture): Capture Box (capture) out", Direction::Input, true,
       "a2j:Capture Box [24]: Capture Box (capture) out"},
      {"synth:midi_capture_1", Direction::Input, true, "synth:midi_capture_1"},
      // Long names are kept whole.
      {"a2j:nanoKONTROL2 with a very long client name indeed [128] (capture): nanoKONTROL2 nanoKONTROL2 _ CTRL",
       Direction::Input, true,
       "a2j:nanoKONTROL2 with a very long client name indeed [128]: nanoKONTROL2 nanoKONTROL2 _ CTRL"},
      // The ALSA sequencer already names both directions alike.
      {"BCF2000:BCF2000 MIDI 1 20:0", Direction::Input, false, "BCF2000:BCF2000 MIDI 1 20:0"},
      {"a2j:BCF2000 [20] (capture): BCF2000 MIDI 1", Direction::Input, false,
       "a2j:BCF2000 [20] (capture): BCF2000 MIDI 1"},
  };
  for (const NameCase& test : cases) {
    EXPECT_EQ(port::shared::DisplayPortName(test.raw, test.direction, test.jack), test.shown) << test.raw;
  }
}

// The ports of one ALSA sequencer client are one device, however the
// service in between names them; a name that tells no client tells nothing.
TEST(PortNames, TheDeviceIsTheAlsaClientTheNameTells) {
  const struct {
    const char* raw;
    bool jack;
    const char* device;
  } cases[] = {
      {"BCF2000:BCF2000 MIDI 1 20:0", false, "alsa:20"},
      {"BCF2000:BCF2000 MIDI 3 20:2", false, "alsa:20"},
      {"nanoKONTROL2:nanoKONTROL2 _ CTRL 128:1", false, "alsa:128"},
      {"IAC Driver Bus 1", false, ""}, // CoreMIDI
      {"Port 20:x", false, ""},
      {"BCF2000 20:", false, ""},
      {"a2j:nanoKONTROL2 [24] (capture): nanoKONTROL2 _ SLIDER/KNOB", true, "alsa:24"},
      {"a2j:nanoKONTROL2 [24] (playback): nanoKONTROL2 _ CTRL", true, "alsa:24"},
      {"a2j:Odd [x] (capture): Odd", true, ""},
      {"alsa:seq:default:client_14:capture_0", true, "alsa:14"},
      {"Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0", true, ""},
      {"system:midi_capture_1", true, ""},
      {"BCF2000:BCF2000 MIDI 1 20:0", true, ""}, // not a JACK name
  };
  for (const auto& test : cases) {
    EXPECT_EQ(port::shared::DeviceOfPort(test.raw, test.jack), test.device) << test.raw;
  }
}

TEST(PortNames, TheProgramsOwnClientsAreRecognised) {
  const struct {
    const char* raw;
    bool own;
  } cases[] = {
      {"portprobe:input", true},     {"portprobe-01:output", true},
      {"portprobe-123:input", true}, {"portprobe:input 128:0", true}, // ALSA
      {"portprobe-:input", false},   {"portprobe-x:input", false},
      {"portprobe2:input", false},   {"a2j:portprobe [20] (capture): portprobe MIDI 1", false},
      {"portprobe", false},
  };
  for (const auto& test : cases) EXPECT_EQ(port::shared::IsOwnPort(test.raw, "portprobe"), test.own) << test.raw;
}

} // namespace
