#include "midi/model_code.h"

#include <gtest/gtest.h>

#include <string>

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

namespace {

// The port-name tests as the family table lists them, in its order.
struct Row {
  const char* text;
  bool prefixOnly;
  char modelCode;
};
constexpr Row kTable[] = {
    {"MIDI Mix", false, 'B'},     {"nanoKONTROL2", false, 'D'},         {"iCON iControls_Pro", true, 'E'},
    {"X-TOUCH MINI", false, 'F'}, {"X-TOUCH COMPACT", false, 'K'},      {"BCF2000", false, 'G'},
    {"BCR2000", false, 'H'},      {"Midi Fighter Twister", false, 'I'}, {"Launchpad Mini", false, 'J'},
    {"Platform-M", false, 'M'},   {"Platform M", false, 'M'},
};

// Any two rows can match one name: the earlier row decides, whichever text
// comes first in the name, except that the prefix row matches only at the
// very start.
TEST(ClassifyPortName, OfTwoRowsThatMatchTheEarlierDecides) {
  constexpr size_t rows = sizeof kTable / sizeof kTable[0];
  for (size_t earlier = 0; earlier < rows; ++earlier) {
    for (size_t later = earlier + 1; later < rows; ++later) {
      const Row& first = kTable[earlier];
      const Row& second = kTable[later];
      const std::string inTableOrder = std::string(first.text) + " & " + second.text;
      EXPECT_EQ(ClassifyPortName(inTableOrder).modelCode, first.modelCode) << inTableOrder;
      const std::string reversed = std::string(second.text) + " & " + first.text;
      EXPECT_EQ(ClassifyPortName(reversed).modelCode, first.prefixOnly ? second.modelCode : first.modelCode)
          << reversed;
      EXPECT_TRUE(ClassifyPortName(reversed).supported) << reversed;
    }
  }
}

} // namespace
