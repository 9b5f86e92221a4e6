#include "midi/port/simulated/controllers/nano_kontrol_controller.h"

#include "midi/port/simulated/protocol_tables.h"

namespace port::sim {

namespace {

constexpr size_t kHeaderLength = 7; // F0 42 4g 00 01 13 00

bool HasKorgHeader(const uint8_t* bytes, size_t length) {
  return length > kHeaderLength && bytes[0] == 0xF0 && bytes[1] == 0x42 && (bytes[2] & 0xF0) == 0x40 &&
         bytes[3] == 0x00 && bytes[4] == 0x01 && bytes[5] == 0x13 && bytes[length - 1] == 0xF7;
}

bool IsCommand(const uint8_t* bytes, size_t length, uint8_t first, uint8_t second) {
  return length >= kHeaderLength + 2 && bytes[7] == first && bytes[8] == second;
}

bool IsSceneData(const uint8_t* bytes, size_t length) {
  return length >= kHeaderLength + 3 && bytes[7] == 0x7F && bytes[8] == 0x7F && bytes[9] == 0x02;
}

} // namespace

NanoKontrolController::Settings NanoKontrolController::HoldingTheRequiredScene() {
  Settings settings;
  settings.scene.assign(protocol::kNanoKontrolScene.begin(), protocol::kNanoKontrolScene.end());
  return settings;
}

NanoKontrolController::Settings NanoKontrolController::HoldingAnEditedScene() {
  Settings settings = HoldingTheRequiredScene();
  settings.scene[17] = 0x11;
  return settings;
}

NanoKontrolController::NanoKontrolController(Settings settings)
    : settings(std::move(settings)), stored(this->settings.scene) {}

NanoKontrolController::Ack NanoKontrolController::NextAck() {
  if (settings.acks.empty()) return settings.thereafter;
  const Ack ack = settings.acks.front();
  settings.acks.pop_front();
  return ack;
}

uint8_t NanoKontrolController::ChannelByte() const {
  return static_cast<uint8_t>(0x40 | (settings.globalChannel & 0x0F));
}

std::vector<uint8_t> NanoKontrolController::Answer(uint8_t code) const {
  return {0xF0, 0x42, ChannelByte(), 0x00, 0x01, 0x13, 0x00, 0x5F, code, 0x00, 0xF7};
}

std::vector<uint8_t> NanoKontrolController::Dump() const {
  std::vector<uint8_t> dump = settings.scene;
  if (dump.size() > 2) dump[2] = ChannelByte();
  return dump;
}

void NanoKontrolController::OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) {
  std::vector<uint8_t> reply = Respond(bytes, length);
  if (!reply.empty()) link.Send(ControllerEvent::SysExMessage(std::move(reply), settings.replyDelay));
}

// Requests are answered whatever global channel they address; the
// controller's own channel shows in byte 2 of everything it sends.
std::vector<uint8_t> NanoKontrolController::Respond(const uint8_t* bytes, size_t length) {
  std::lock_guard<std::mutex> guard(lock);
  if (!HasKorgHeader(bytes, length)) return {};
  if (IsCommand(bytes, length, 0x1F, 0x10)) { // dump request
    ++dumpRequests;
    return Dump();
  }
  if (IsSceneData(bytes, length)) {
    ++uploads;
    const Ack ack = NextAck();
    if (ack == Ack::Good) settings.scene.assign(bytes, bytes + length);
    return Acknowledge(ack, 0x23, 0x24);
  }
  if (IsCommand(bytes, length, 0x1F, 0x11)) { // write request
    ++writeRequests;
    const Ack ack = NextAck();
    if (ack == Ack::Good) stored = settings.scene;
    return Acknowledge(ack, 0x21, 0x22);
  }
  return {};
}

std::vector<uint8_t> NanoKontrolController::Acknowledge(Ack ack, uint8_t done, uint8_t failed) const {
  switch (ack) {
    case Ack::Good:
      return Answer(done);
    case Ack::Negative:
      return Answer(failed);
    case Ack::TooShort:
      return {0xF0, 0x42, ChannelByte(), 0x00, 0x01, 0x13, 0x00, 0xF7};
    case Ack::Never:
      break;
  }
  return {};
}

std::vector<uint8_t> NanoKontrolController::Scene() const {
  std::lock_guard<std::mutex> guard(lock);
  return Dump();
}

int NanoKontrolController::DumpRequests() const {
  std::lock_guard<std::mutex> guard(lock);
  return dumpRequests;
}

int NanoKontrolController::Uploads() const {
  std::lock_guard<std::mutex> guard(lock);
  return uploads;
}

int NanoKontrolController::WriteRequests() const {
  std::lock_guard<std::mutex> guard(lock);
  return writeRequests;
}

} // namespace port::sim
