// The names Windows gives a USB MIDI device's ports, classic and
// "Automatic", and the device interface path they share.
#include "midi/port/simulated/windows_port_names.h"

#include <gtest/gtest.h>

namespace {

using port::Direction;
using port::sim::PortNaming;
using port::sim::WindowsPortName;

TEST(WindowsPortNames, JacksFirstPortsSecondPortsSecondUnitsAndTheCut) {
  struct Case {
    PortNaming naming;
    const char* device;
    const char* jack;
    Direction direction;
    unsigned number;
    unsigned unit;
    const char* name;
  };
  const Case cases[] = {
      // A device that names its jacks: their names, each direction its own,
      // only where Windows names ports automatically.
      {PortNaming::Automatic, "nanoKONTROL2", "nanoKONTROL2 _ SLIDER/KNOB", Direction::Input, 1, 1,
       "nanoKONTROL2 _ SLIDER/KNOB"},
      {PortNaming::Automatic, "nanoKONTROL2", "nanoKONTROL2 _ CTRL", Direction::Output, 1, 1, "nanoKONTROL2 _ CTRL"},
      {PortNaming::Classic, "nanoKONTROL2", "nanoKONTROL2 _ SLIDER/KNOB", Direction::Input, 1, 1, "nanoKONTROL2"},
      {PortNaming::Classic, "nanoKONTROL2", "nanoKONTROL2 _ CTRL", Direction::Output, 1, 1, "nanoKONTROL2"},
      // No jack names: the first port the device's name, later ones numbered.
      {PortNaming::Automatic, "BCF2000", "", Direction::Input, 1, 1, "BCF2000"},
      {PortNaming::Automatic, "BCF2000", "", Direction::Input, 2, 1, "MIDIIN2 (BCF2000)"},
      {PortNaming::Classic, "BCF2000", "", Direction::Output, 3, 1, "MIDIOUT3 (BCF2000)"},
      // A second unit of the model.
      {PortNaming::Classic, "BCF2000", "", Direction::Input, 1, 2, "2- BCF2000"},
      {PortNaming::Classic, "BCF2000", "", Direction::Output, 2, 2, "2- MIDIOUT2 (BCF2000)"},
      {PortNaming::Automatic, "BCF2000", "", Direction::Input, 1, 2, "BCF2000 (2)"},
      {PortNaming::Automatic, "nanoKONTROL2", "nanoKONTROL2 _ CTRL", Direction::Output, 1, 2,
       "nanoKONTROL2 _ CTRL (2)"},
      // Before November 2026 the units of one product share their names.
      {PortNaming::ClassicSharedByUnits, "nanoKONTROL2", "nanoKONTROL2 _ CTRL", Direction::Output, 1, 2,
       "nanoKONTROL2"},
      {PortNaming::ClassicSharedByUnits, "BCF2000", "", Direction::Input, 2, 2, "MIDIIN2 (BCF2000)"},
      // Cut to 31 characters, after the unit's mark; a character beyond
      // ASCII counts once.
      {PortNaming::Automatic, "X-TOUCH COMPACT", "X-TOUCH COMPACT Extension Port 1", Direction::Input, 1, 1,
       "X-TOUCH COMPACT Extension Port "},
      {PortNaming::Automatic, "nanoKONTROL2", "nanoKONTROL2 _ SLIDER/KNOB", Direction::Input, 1, 123,
       "nanoKONTROL2 _ SLIDER/KNOB (123"},
      {PortNaming::Classic,
       "\xC3\x9C"
       "ber Synth Deluxe Edition With Keys",
       "", Direction::Input, 1, 1,
       "\xC3\x9C"
       "ber Synth Deluxe Edition With "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsPortName(c.naming, c.device, c.jack, c.direction, c.number, c.unit), c.name)
        << c.device << " " << c.jack << " #" << c.number << " unit " << c.unit;
  }
}

TEST(WindowsPortNames, OneDevicePathForAllPortsOfAUnitAndAnotherForTheNext) {
  const std::string first = port::sim::DeviceInterfacePath("nanoKONTROL2", 1, false);
  EXPECT_EQ(port::sim::DeviceInterfacePath("nanoKONTROL2", 1, false), first);
  EXPECT_NE(port::sim::DeviceInterfacePath("nanoKONTROL2", 2, false), first);
  EXPECT_NE(port::sim::DeviceInterfacePath("BCF2000", 1, false), first);
  // Windows MIDI Services gives the same path in lower case.
  const std::string lower = port::sim::DeviceInterfacePath("nanoKONTROL2", 1, true);
  EXPECT_NE(lower, first);
  ASSERT_EQ(lower.size(), first.size());
  for (size_t at = 0; at < first.size(); ++at) {
    EXPECT_EQ(lower[at], std::tolower(static_cast<unsigned char>(first[at]))) << at;
  }
}

} // namespace
