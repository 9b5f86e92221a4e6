#include "midi/model_code.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* name;
  char modelCode;
  bool supported;
};

TEST(ClassifyPortName, FamilyTableFirstMatchWins) {
  const Case cases[] = {
      {"MIDI Mix", 'B', true},
      {"Akai MIDI Mix 2", 'B', true},
      {"nanoKONTROL2", 'D', true},
      {"2- nanoKONTROL2 SLIDER/KNOB", 'D', true},
      {"iCON iControls_Pro V1.02", 'E', true},
      {"X-TOUCH MINI", 'F', true},
      {"X-TOUCH COMPACT", 'K', true},
      {"BCF2000 Port 1", 'G', true},
      {"USB BCR2000", 'H', true},
      {"Midi Fighter Twister", 'I', true},
      {"Launchpad Mini MK3", 'J', true},
      {"Platform-M+ V2.15", 'M', true},
      {"Platform M", 'M', true},
      // The first row wins over a later one.
      {"MIDI Mix BCF2000", 'B', true},
      {"BCF2000 X-TOUCH MINI", 'F', true},
      // Only "iCON iControls_Pro" must come first; elsewhere it matches nothing.
      {"My iCON iControls_Pro", 'X', false},
      // Case-sensitive.
      {"bcf2000", 'X', false},
      {"Midi Mix", 'X', false},
      {"", 'X', false},
      {"Platform", 'X', false},
  };
  for (const Case& c : cases) {
    const PortClassification result = ClassifyPortName(c.name);
    EXPECT_EQ(result.modelCode, c.modelCode) << c.name;
    EXPECT_EQ(result.supported, c.supported) << c.name;
  }
}

} // namespace
