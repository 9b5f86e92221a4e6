// Which output an input is paired with, seen as the user and the controller
// see it: the report and the bytes each output port received, over the
// port names Windows gives, classic and "Automatic".
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <set>

#include "midi/port/simulated/controllers/nano_kontrol_controller.h"
#include "midi/port/simulated/protocol_tables.h"
#include "midi/port/simulated/windows_port_names.h"
#include "testkit/scenarios.h"
#include "tests/support/probe_harness.h"

namespace {

using port::sim::ServiceModel;
using port::sim::SimulatedService;
using port::sim::UsbDevice;
namespace protocol = port::sim::protocol;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes) {
  return Hex(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// "{ 0xF0, ...,};" and its line end, as the report writes a dump.
template <size_t N>
std::string DumpLine(const std::array<uint8_t, N>& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (uint8_t byte : bytes) {
    text += " 0x";
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
    text += ',';
  }
  return text + "};\r\n";
}

std::string MaskStopwatch(const std::string& text) {
  static const std::regex kStopwatch("Run Time: [0-9]+\\.[0-9]{6}  Interval Time: [0-9]+\\.[0-9]{6}");
  return std::regex_replace(text, kStopwatch, "Run Time: T  Interval Time: T");
}

const UsbDevice kNanoJacks{"nanoKONTROL2", {"nanoKONTROL2 _ SLIDER/KNOB"}, {"nanoKONTROL2 _ CTRL"}};
const UsbDevice kBCF2000ThreePorts{"BCF2000", {"", ""}, {"", "", ""}};

std::shared_ptr<port::sim::NanoKontrolController> NanoHoldingTheScene() {
  return std::make_shared<port::sim::NanoKontrolController>(
      port::sim::NanoKontrolController::HoldingTheRequiredScene());
}

// A nanoKONTROL2 found under `name` whose scene is checked and found good.
std::string GoodSceneCheck(const std::string& name) {
  return "MIM_OPEN\nMIDI device found: " + name + "\nSysEx message received:\r\n" +
         DumpLine(protocol::kNanoKontrolScene) + "current settings are good!\n";
}

// Found, its dump request sent or not, no answer.
std::string FoundSilently(const std::string& name) {
  return "MIM_OPEN\nMIDI device found: " + name + "\n";
}

// A BCR2000's identity reply carrying text, logged and taken as its new
// name; the rename line has no line end of its own.
std::string RenamedBy(const std::string& text) {
  std::string dump = "{ 0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02,";
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    dump += " 0x";
    dump += kHex[c >> 4];
    dump += kHex[c & 0x0F];
    dump += ',';
  }
  dump += " 0xF7,};\r\n";
  return "SysEx message received:\r\n" + dump + "Got identity response\r\nRun Time: T  Interval Time: T\r\n" +
         "Updated device name: " + text;
}

std::string Summary(const std::vector<std::string>& supported, const std::vector<std::string>& others = {}) {
  std::string text = "\r\n\r\n";
  for (const std::string& name : supported) text += "\"" + name + "\" Supported by Veltrakon.\r\n";
  for (const std::string& name : others) text += "\"" + name + "\"\r\n";
  return text + "\r\n";
}

// The nanoKONTROL2's two ports, jack-named, built by hand: with faults, and
// with the output's device path in the driver's case instead of lower case.
void AddNanoPorts(SimulatedService& service, port::sim::InputFaults inputFaults, port::sim::OutputFaults outputFaults,
                  bool outputPathInCapitals) {
  const std::string device = port::sim::DeviceInterfacePath("nanoKONTROL2", 1, true);
  const std::string outputDevice = port::sim::DeviceInterfacePath("nanoKONTROL2", 1, !outputPathInCapitals);
  const unsigned input = service.AddInput("nanoKONTROL2 _ SLIDER/KNOB", std::move(inputFaults), device);
  const unsigned output = service.AddOutput("nanoKONTROL2 _ CTRL", std::move(outputFaults), outputDevice);
  service.Connect(NanoHoldingTheScene(), static_cast<int>(input), static_cast<int>(output));
}

struct Case {
  const char* name;
  ServiceModel model;
  std::function<void(SimulatedService&)> build;
  std::string report;
  // What each output port received, in order; ports not named got nothing.
  std::map<std::string, std::vector<std::string>> wire;
  std::set<std::string> opened; // the output ports the run opened
};

ServiceModel Current(port::sim::DeviceQuery query = port::sim::DeviceQuery::Answered) {
  ServiceModel model = ServiceModel::CurrentWindows();
  model.deviceQuery = query;
  return model;
}

// Before its November 2026 update the service names the units of one
// product alike and lets a second client open an output.
ServiceModel BeforeNovember(port::sim::DeviceQuery query = port::sim::DeviceQuery::Answered) {
  ServiceModel model = ServiceModel::CurrentWindowsBeforeNovember2026();
  model.deviceQuery = query;
  return model;
}

// Two nanoKONTROL2 units under one name, built by hand so that the second
// unit's output can refuse to open; only the second unit answers.
void AddTwoNanosSecondOutputRefused(SimulatedService& service) {
  for (unsigned unit = 1; unit <= 2; ++unit) {
    const std::string device = port::sim::DeviceInterfacePath("nanoKONTROL2", unit, true);
    port::sim::OutputFaults faults;
    if (unit == 2) faults.open = port::sim::ResultScript::Always(port::kAllocated);
    const unsigned input = service.AddInput("nanoKONTROL2", {}, device);
    const unsigned output = service.AddOutput("nanoKONTROL2", std::move(faults), device);
    service.Connect(unit == 2 ? NanoHoldingTheScene() : nullptr, static_cast<int>(input), static_cast<int>(output));
  }
}

TEST(DevicePairing, OwnDeviceAmongTheExactNameThenTheDevicesOnlyOutputOfAnotherName) {
  const std::string dump = Hex(protocol::kNanoKontrolDumpRequest);
  const std::string identity = Hex(protocol::kBCIdentityQuery);
  const std::string reset = Hex(protocol::kXTouchResetStream);
  const Case cases[] = {
      {"a nanoKONTROL2 whose jacks name its ports differently: paired through its device",
       Current(),
       [](SimulatedService& service) { service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene()); },
       GoodSceneCheck("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {{"nanoKONTROL2 _ CTRL", {dump}}},
       {"nanoKONTROL2 _ CTRL"}},
      {"the same device named the classic way: paired by its name",
       ServiceModel::Classic(),
       [](SimulatedService& service) { service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene()); },
       GoodSceneCheck("nanoKONTROL2") + Summary({"nanoKONTROL2"}),
       {{"nanoKONTROL2", {dump}}},
       {"nanoKONTROL2"}},
      {"a BCF2000 with three outputs: its first input by name, the second none of the two DIN sockets",
       Current(),
       [](SimulatedService& service) { service.AddUsbDevice(kBCF2000ThreePorts, nullptr); },
       FoundSilently("BCF2000") + "Send identiy request\r\n" + FoundSilently("MIDIIN2 (BCF2000)") +
           "Send identiy request\r\nRun Time: T  Interval Time: T\r\n" + Summary({"BCF2000", "MIDIIN2 (BCF2000)"}),
       {{"BCF2000", {identity}}},
       {"BCF2000"}},
      {"two inputs and two outputs: the second input takes the output no input is named like",
       Current(),
       [](SimulatedService& service) {
         service.AddUsbDevice({"BCF2000", {"", ""}, {"", ""}}, nullptr);
       },
       FoundSilently("BCF2000") + "Send identiy request\r\n" + FoundSilently("MIDIIN2 (BCF2000)") +
           "Send identiy request\r\nRun Time: T  Interval Time: T\r\n" + Summary({"BCF2000", "MIDIIN2 (BCF2000)"}),
       {{"BCF2000", {identity}}, {"MIDIOUT2 (BCF2000)", {identity}}},
       {"BCF2000", "MIDIOUT2 (BCF2000)"}},
      {"two units: each pairs with its own output, the second's answering",
       Current(),
       [](SimulatedService& service) {
         service.AddUsbDevice(kNanoJacks, nullptr);
         service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene());
       },
       FoundSilently("nanoKONTROL2 _ SLIDER/KNOB") + GoodSceneCheck("nanoKONTROL2 _ SLIDER/KNOB (2)") +
           Summary({"nanoKONTROL2 _ SLIDER/KNOB", "nanoKONTROL2 _ SLIDER/KNOB (2)"}),
       {{"nanoKONTROL2 _ CTRL", {dump}}, {"nanoKONTROL2 _ CTRL (2)", {dump}}},
       {"nanoKONTROL2 _ CTRL", "nanoKONTROL2 _ CTRL (2)"}},
      {"two units named the classic way",
       ServiceModel::Classic(),
       [](SimulatedService& service) {
         service.AddUsbDevice(kNanoJacks, nullptr);
         service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene());
       },
       FoundSilently("nanoKONTROL2") + GoodSceneCheck("2- nanoKONTROL2") + Summary({"nanoKONTROL2", "2- nanoKONTROL2"}),
       {{"nanoKONTROL2", {dump}}, {"2- nanoKONTROL2", {dump}}},
       {"nanoKONTROL2", "2- nanoKONTROL2"}},
      {"two units whose ports share one name (before November 2026): each pairs with its own unit's output",
       BeforeNovember(),
       [](SimulatedService& service) {
         service.AddUsbDevice(kNanoJacks, nullptr);
         service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene());
       },
       FoundSilently("nanoKONTROL2") + GoodSceneCheck("nanoKONTROL2") + Summary({"nanoKONTROL2", "nanoKONTROL2"}),
       {{"nanoKONTROL2", {dump}}, {"nanoKONTROL2 #2", {dump}}},
       {"nanoKONTROL2", "nanoKONTROL2 #2"}},
      {"the same with the device query not supported: both take the first output of the name, as before",
       BeforeNovember(port::sim::DeviceQuery::NotSupported),
       [](SimulatedService& service) {
         service.AddUsbDevice(kNanoJacks, nullptr);
         service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene());
       },
       FoundSilently("nanoKONTROL2") + FoundSilently("nanoKONTROL2") + Summary({"nanoKONTROL2", "nanoKONTROL2"}),
       {{"nanoKONTROL2", {dump, dump}}},
       {"nanoKONTROL2"}},
      {"two units whose second output refuses to open: the second unit gets none, never the first one's",
       BeforeNovember(),
       AddTwoNanosSecondOutputRefused,
       FoundSilently("nanoKONTROL2") + FoundSilently("nanoKONTROL2") + Summary({"nanoKONTROL2", "nanoKONTROL2"}),
       {{"nanoKONTROL2", {dump}}},
       {"nanoKONTROL2"}},
      {"two X-TOUCH MINI of one name: each unit its own reset stream",
       BeforeNovember(),
       [](SimulatedService& service) { ASSERT_TRUE(testkit::BuildScenario("two-xtouch-mini", service)); },
       FoundSilently("X-TOUCH MINI") + FoundSilently("X-TOUCH MINI") + Summary({"X-TOUCH MINI", "X-TOUCH MINI"}),
       {{"X-TOUCH MINI", {reset}}, {"X-TOUCH MINI #2", {reset}}},
       {"X-TOUCH MINI", "X-TOUCH MINI #2"}},
      {"two BCR2000 of one name: each unit asked on its own output, each renamed by its own reply",
       BeforeNovember(),
       [](SimulatedService& service) { ASSERT_TRUE(testkit::BuildScenario("two-bcr2000", service)); },
       FoundSilently("BCR2000") + "Send identiy request\r\n" + FoundSilently("BCR2000") +
           "Send identiy request\r\nRun Time: T  Interval Time: T\r\n" + RenamedBy("BCR2000 Left") +
           RenamedBy("BCR2000 Right") + "\r\n\r\n\"BCR2000 Left\" Supported by Veltrakon.\r\n\"BCR2000 Right\" " +
           "Supported by Veltrakon.\r\n\r\n",
       {{"BCR2000", {identity}}, {"BCR2000 #2", {identity}}},
       {"BCR2000", "BCR2000 #2"}},
      {"the service's synth and a loopback pair: paired by name, nothing sent",
       Current(),
       [](SimulatedService& service) {
         service.AddServiceSynth();
         service.AddLoopback("Loopback A");
       },
       FoundSilently("General MIDI Synth") + FoundSilently("Loopback A") +
           Summary({}, {"General MIDI Synth", "Loopback A"}),
       {},
       {"General MIDI Synth", "Loopback A"}},
      {"a device query the service does not support: names only",
       Current(port::sim::DeviceQuery::NotSupported),
       [](SimulatedService& service) { service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene()); },
       FoundSilently("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {},
       {}},
      {"a device query answered with an empty text: names only",
       Current(port::sim::DeviceQuery::Empty),
       [](SimulatedService& service) { service.AddUsbDevice(kNanoJacks, NanoHoldingTheScene()); },
       FoundSilently("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {},
       {}},
      {"a device query that fails for the input: names only",
       Current(),
       [](SimulatedService& service) {
         port::sim::InputFaults faults;
         faults.device = port::sim::ResultScript::Always(port::kNoMem);
         AddNanoPorts(service, std::move(faults), {}, false);
       },
       FoundSilently("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {},
       {}},
      {"a device query that fails for the output: not a candidate",
       Current(),
       [](SimulatedService& service) {
         port::sim::OutputFaults faults;
         faults.device = port::sim::ResultScript::Always(port::kError);
         AddNanoPorts(service, {}, std::move(faults), false);
       },
       FoundSilently("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {},
       {}},
      {"paths of one device that differ only in case: one device",
       Current(),
       [](SimulatedService& service) { AddNanoPorts(service, {}, {}, true); },
       GoodSceneCheck("nanoKONTROL2 _ SLIDER/KNOB") + Summary({"nanoKONTROL2 _ SLIDER/KNOB"}),
       {{"nanoKONTROL2 _ CTRL", {dump}}},
       {"nanoKONTROL2 _ CTRL"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedService service(c.model);
    c.build(service);
    ConsoleCapture console;
    CMIDIManagerWin manager(service);
    const ProbeRun run = RunOver(service, manager, console);
    EXPECT_EQ(MaskStopwatch(run.report), c.report);

    std::map<std::string, std::vector<std::string>> wire;
    std::set<std::string> opened;
    for (unsigned index = 0; index < service.OutputCount(); ++index) {
      const std::string name = service.OutputLabel(index);
      const port::sim::OutputRecord output = service.Output(index);
      for (const std::vector<uint8_t>& message : output.messages) wire[name].push_back(Hex(message));
      if (output.opens > 0) opened.insert(name);
    }
    EXPECT_EQ(wire, c.wire);
    EXPECT_EQ(opened, c.opened);
  }
}

} // namespace
