#include "testkit/usb_controllers/usb_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace usb_controllers {

namespace {

using Clock = std::chrono::steady_clock;

// How long the kernel may take to bind a gadget and make its card: far
// beyond the tens of milliseconds it takes.
constexpr std::chrono::seconds kBindPatience{30};

bool WriteAttribute(const std::string& path, const std::string& value) {
  std::ofstream file(path);
  file << value;
  file.close();
  if (!file) {
    std::fprintf(stderr, "usb-controllers: cannot write \"%s\" to %s: %s\n", value.c_str(), path.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  std::fprintf(stderr, "usb-controllers: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
  return false;
}

} // namespace

struct UsbHost::Unit {
  jack_controllers::JackDevice device;
  int index = 0; // of the scene, from 0
  int fd = -1;   // the gadget's raw MIDI device
  std::string gadget;
  std::unique_ptr<Link> link;
  std::thread reader;
  Clock::time_point lastDue{};
  // What is being read: a message not yet complete.
  std::vector<uint8_t> message;
  uint8_t runningStatus = 0;
};

class UsbHost::Link final : public port::sim::ControllerLink {
 public:
  Link(UsbHost& host, Unit& unit) : host(host), unit(unit) {}
  // Called by the controller under the host's lock.
  void Send(port::sim::ControllerEvent event) override { host.Schedule(unit, event); }

 private:
  UsbHost& host;
  Unit& unit;
};

UsbHost::UsbHost(std::vector<jack_controllers::JackDevice> devices, jack_controllers::WireRecord& record)
    : record(record) {
  int index = 0;
  for (jack_controllers::JackDevice& device : devices) {
    auto unit = std::make_unique<Unit>();
    unit->device = std::move(device);
    unit->index = index++;
    unit->link = std::make_unique<Link>(*this, *unit);
    record.Touch(unit->device.file);
    units.push_back(std::move(unit));
  }
}

UsbHost::~UsbHost() {
  Stop();
}

bool UsbHost::Plug(const std::string& configfsRoot) {
  configfs = configfsRoot;
  for (auto& unitPointer : units) {
    Unit& unit = *unitPointer;
    const std::string gadget = configfs + "/usb_gadget/unit" + std::to_string(unit.index);
    const std::string function = gadget + "/functions/midi.usb0";
    const std::string config = gadget + "/configs/c.1";
    const int card = kFirstGadgetCard + unit.index;
    // pid.codes' test vendor; a product number per unit, as two real units
    // of one model differ only in their serial numbers.
    if (!MakeDirectory(gadget) || !WriteAttribute(gadget + "/idVendor", "0x1209") ||
        !WriteAttribute(gadget + "/idProduct", "0x0001") || !MakeDirectory(gadget + "/strings/0x409") ||
        !WriteAttribute(gadget + "/strings/0x409/manufacturer", "Portprobe tests") ||
        !WriteAttribute(gadget + "/strings/0x409/product", unit.device.alsaClient) ||
        !WriteAttribute(gadget + "/strings/0x409/serialnumber", std::to_string(unit.index + 1)) ||
        !MakeDirectory(function) || !WriteAttribute(function + "/index", std::to_string(card)) ||
        !WriteAttribute(function + "/id", "gadget" + std::to_string(unit.index)) ||
        !WriteAttribute(function + "/in_ports", "1") || !WriteAttribute(function + "/out_ports", "1") ||
        !MakeDirectory(config) || !MakeDirectory(config + "/strings/0x409") ||
        !WriteAttribute(config + "/strings/0x409/configuration", "MIDI")) {
      return false;
    }
    if (::symlink(function.c_str(), (config + "/midi.usb0").c_str()) != 0 && errno != EEXIST) {
      std::fprintf(stderr, "usb-controllers: cannot link %s: %s\n", function.c_str(), std::strerror(errno));
      return false;
    }
    if (!WriteAttribute(gadget + "/UDC", "dummy_udc." + std::to_string(unit.index))) return false;
    unit.gadget = gadget;
    const std::string device = "/dev/snd/midiC" + std::to_string(card) + "D0";
    const Clock::time_point deadline = Clock::now() + kBindPatience;
    while ((unit.fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK)) < 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (unit.fd < 0) {
      std::fprintf(stderr, "usb-controllers: %s did not appear: %s\n", device.c_str(), std::strerror(errno));
      return false;
    }
    // One unit at a time, each once the kernel has named it (its card, the
    // lowest free: the unit's index), so that the kernel numbers the units'
    // cards and sequencer clients in the scene's order, as a user who
    // plugs them in one after the other sees them.
    const std::string named = "/proc/asound/card" + std::to_string(unit.index) + "/id";
    while (::access(named.c_str(), F_OK) != 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (::access(named.c_str(), F_OK) != 0) {
      std::fprintf(stderr, "usb-controllers: the kernel did not name %s\n", unit.device.alsaClient.c_str());
      return false;
    }
  }
  writer = std::thread([this] { WriteLoop(); });
  for (auto& unit : units) {
    Unit* reading = unit.get();
    unit->reader = std::thread([this, reading] { ReadLoop(*reading); });
  }
  return true;
}

void UsbHost::StartInput() {
  std::lock_guard<std::mutex> guard(lock);
  for (auto& unit : units) unit->device.controller->OnInputStarted(*unit->link);
}

void UsbHost::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock);
    if (stopping) return;
    stopping = true;
  }
  scheduled.notify_all();
  if (writer.joinable()) writer.join();
  for (auto& unit : units) {
    if (unit->reader.joinable()) unit->reader.join();
    if (unit->fd >= 0) ::close(unit->fd);
    unit->fd = -1;
  }
}

void UsbHost::Schedule(Unit& unit, const port::sim::ControllerEvent& event) {
  const Clock::time_point earliest = Clock::now() + unit.device.answerDelay;
  const Clock::time_point due = std::max(earliest, unit.lastDue) + event.delay;
  unit.lastDue = due;
  schedule.push_back({due, &unit, event});
  scheduled.notify_all();
}

void UsbHost::ReadLoop(Unit& unit) {
  uint8_t buffer[512];
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (stopping) return;
    }
    pollfd ready{unit.fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const ssize_t got = ::read(unit.fd, buffer, sizeof buffer);
    if (got <= 0) continue;
    std::lock_guard<std::mutex> guard(lock);
    for (ssize_t at = 0; at < got; ++at) {
      const uint8_t byte = buffer[at];
      std::vector<uint8_t> complete;
      if (byte >= 0xF8) {
        complete = {byte}; // real time, even inside another message
      } else if (byte == 0xF7 && !unit.message.empty() && unit.message[0] == 0xF0) {
        unit.message.push_back(byte);
        complete.swap(unit.message);
      } else if (byte >= 0x80) {
        unit.message = {byte};
        unit.runningStatus = byte < 0xF0 ? byte : 0;
      } else if (!unit.message.empty() || unit.runningStatus != 0) {
        if (unit.message.empty()) unit.message = {unit.runningStatus};
        unit.message.push_back(byte);
      }
      if (complete.empty() && !unit.message.empty() && unit.message[0] != 0xF0 &&
          unit.message.size() == jack_controllers::ShortMessageLength(unit.message[0])) {
        complete.swap(unit.message);
      }
      if (complete.empty()) continue;
      record.Received(unit.device.file, complete.data(), complete.size());
      unit.device.controller->OnReceive(complete.data(), complete.size(), *unit.link);
    }
  }
}

void UsbHost::WriteLoop() {
  std::unique_lock<std::mutex> guard(lock);
  for (;;) {
    if (stopping) return;
    if (schedule.empty()) {
      scheduled.wait(guard);
      continue;
    }
    // The earliest first: several units' events interleave by their times.
    auto next = schedule.begin();
    for (auto at = schedule.begin(); at != schedule.end(); ++at) {
      if (at->due < next->due) next = at;
    }
    if (Clock::now() < next->due) {
      scheduled.wait_until(guard, next->due);
      continue;
    }
    Scheduled due = std::move(*next);
    schedule.erase(next);
    Unit& unit = *due.unit;
    const port::sim::ControllerEvent& event = due.event;
    std::vector<uint8_t> bytes;
    if (event.kind == port::sim::ControllerEvent::Kind::Short) {
      const uint8_t status = static_cast<uint8_t>(event.word & 0xFF);
      const size_t length = jack_controllers::ShortMessageLength(status);
      for (size_t at = 0; at < length; ++at) bytes.push_back(static_cast<uint8_t>((event.word >> (8 * at)) & 0xFF));
    } else if (event.kind == port::sim::ControllerEvent::Kind::SysEx) {
      bytes = event.bytes;
    } else if (event.kind == port::sim::ControllerEvent::Kind::Unplug) {
      Unplug(unit);
      continue;
    } else {
      std::fprintf(stderr, "usb-controllers: %s cannot send this kind of event over USB\n",
                   unit.device.alsaClient.c_str());
      continue;
    }
    record.Sent(unit.device.file, bytes.data(), bytes.size());
    for (size_t written = 0; written < bytes.size();) {
      const ssize_t put = ::write(unit.fd, bytes.data() + written, bytes.size() - written);
      if (put > 0) {
        written += static_cast<size_t>(put);
      } else if (put < 0 && errno != EAGAIN) {
        std::fprintf(stderr, "usb-controllers: writing to %s: %s\n", unit.device.alsaClient.c_str(),
                     std::strerror(errno));
        break;
      } else {
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        guard.lock();
      }
    }
  }
}

// As a cable pulled out: the gadget leaves the bus.
void UsbHost::Unplug(Unit& unit) {
  WriteAttribute(unit.gadget + "/UDC", "\n");
}

} // namespace usb_controllers
