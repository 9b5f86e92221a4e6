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
