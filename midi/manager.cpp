#include "midi/manager.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "app/log_sink.h"
#include "app/log_texts.h"
#include "handlers/factory.h"
#include "handlers/handler.h"
#include "midi/device.h"
#include "midi/held_buffers.h"
#include "midi/input.h"
#include "midi/listener.h"
#include "midi/model_code.h"

namespace {

constexpr int kBusyRetries = 20; // after the first attempt: 21 sends at most
constexpr int kReleaseAttempts = 10;
constexpr unsigned kRetryPauseMs = 10;

const char* OpenFailureText(port::Result code) {
  switch (code) {
    case port::kBadDeviceId:
      return app::logtext::kBadDeviceId;
    case port::kAllocated:
      return app::logtext::kAlreadyInUse;
    case port::kNoMem:
      return app::logtext::kNoMemory;
    case port::kInvalFlag:
      return app::logtext::kInvalidFlag;
    case port::kInvalParam:
      return app::logtext::kInvalidParameter;
    default:
      return nullptr;
  }
}

// One long message on its way out: the header and its own copy of the bytes.
// The copy lets the send outlive the caller's buffer when the port refuses
// to give it back.
struct OutgoingMessage {
  OutgoingMessage(const uint8_t* source, uint16_t length) : bytes(source, source + length) {
    header.lpData = bytes.data();
    header.dwBufferLength = length;
    header.dwFlags = 0;
  }
  std::vector<uint8_t> bytes;
  port::MidiHeader header;
};

} // namespace

CMIDIManager::CMIDIManager() = default;

CMIDIManager::~CMIDIManager() {
  ReleaseOwned();
}

void CMIDIManager::Adopt(std::unique_ptr<CMIDIDevice> record) {
  ownedRecords.push_back(std::move(record));
}

void CMIDIManager::ReleaseOwned() {
  workers.CloseAndWait();
  {
    std::lock_guard<std::mutex> guard(listLock);
    devices.clear();
  }
  ownedRecords.clear();
  ownedHandlers.clear();
}

bool CMIDIManager::AttachDevice(CMIDIDevice* device) {
  std::lock_guard<std::mutex> guard(listLock);
  if (device->modelCode == kUnreadablePortCode) return false;
  devices.push_back(device);
  {
    std::lock_guard<std::mutex> record(attachedLock);
    attached.push_back(device);
  }
  std::unique_ptr<CMIDIDeviceHandler> handler = CreateHandler(device->modelCode);
  if (handler) {
    handler->device = static_cast<CMIDIDeviceWin*>(device);
    device->handler = handler.get();
    ownedHandlers.push_back(std::move(handler));
  }
  return true;
}

void CMIDIManager::StartDialogue(CMIDIDevice* device) {
  std::lock_guard<std::mutex> guard(listLock);
  if (device->handler != nullptr) device->handler->Start();
}

namespace {

void Describe(const std::vector<CMIDIDevice*>& listed, std::string& text) {
  if (listed.empty()) text = app::logtext::kNoDevices;
  for (CMIDIDevice* device : listed) {
    const std::string name = device->name.Get();
    text += '"';
    text.append(name.c_str()); // up to the first zero byte
    text += '"';
    if (device->supported) text += app::logtext::kSupported;
    text += "\r\n";
  }
  text += "\r\n";
}

void LogLost(const std::vector<CMIDIDevice*>& listed) {
  for (CMIDIDevice* device : listed) {
    const uint64_t lost = static_cast<CMIDIDeviceWin*>(device)->LostInputEvents();
    if (lost == 0) continue;
    app::LogPrintf(app::logtext::kEventsLost, static_cast<unsigned long long>(lost), device->name.Get().c_str());
  }
}

} // namespace

void CMIDIManager::ForgetDevicesLocked() {
  devices.clear();
  std::lock_guard<std::mutex> record(attachedLock);
  attached.clear();
}

bool CMIDIManager::StartActivityWorker() {
  return workers.Start([this] { NotifyDevicesChanged(); });
}

void CMIDIManager::NotifyDevicesChanged() {
  app::LogStopwatch();
  if (!workers.PauseUnlessClosing()) return;
  app::LogStopwatch();
  std::lock_guard<std::mutex> guard(listLock);
  if (devices.empty()) return;
  for (CMIDIListener* listener : listeners) listener->OnDevicesChanged(devices);
}

void CMIDIManager::DescribeDevices(std::string& text) {
  std::lock_guard<std::mutex> guard(listLock);
  Describe(devices, text);
}

void CMIDIManager::LogLostEvents() {
  std::lock_guard<std::mutex> guard(listLock);
  LogLost(devices);
}

std::vector<CMIDIDevice*> CMIDIManager::AttachedDevices() {
  std::lock_guard<std::mutex> guard(attachedLock);
  return attached;
}

bool CMIDIManager::TryListLock(std::chrono::milliseconds patience) {
  const auto until = std::chrono::steady_clock::now() + patience;
  for (;;) {
    if (listLock.try_lock()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool CMIDIManager::DescribeDevicesWithin(std::string& text, std::chrono::milliseconds patience) {
  if (TryListLock(patience)) {
    std::lock_guard<std::mutex> guard(listLock, std::adopt_lock);
    Describe(devices, text);
    return true;
  }
  Describe(AttachedDevices(), text);
  return false;
}

bool CMIDIManager::LogLostEventsWithin(std::chrono::milliseconds patience) {
  if (TryListLock(patience)) {
    std::lock_guard<std::mutex> guard(listLock, std::adopt_lock);
    LogLost(devices);
    return true;
  }
  LogLost(AttachedDevices());
  return false;
}

CMIDIManagerWin::~CMIDIManagerWin() {
  // No event may reach a record, and no worker the lists, once they are freed.
  service.Shutdown();
  ReleaseOwned();
}

void CMIDIManagerWin::Start() {
  if (started) return;
  const unsigned count = service.InputCount();
  for (unsigned index = 0; index < count; ++index) {
    auto record = std::make_unique<CMIDIDeviceWin>(*this, service);
    const port::Result code =
        service.OpenInput(index, MidiInProc, reinterpret_cast<uintptr_t>(record.get()), record->inputHandle);
    if (code != port::kNoError) {
      record.reset();
      // The failure and its reason in one piece: a port opened before may
      // already be in its dialogue, and a line its input logs between the
      // two would leave the report without the reason (seen on a real
      // kernel, where an open takes milliseconds).
      const char* text = OpenFailureText(code);
      char unknown[64];
      if (text == nullptr) {
        std::snprintf(unknown, sizeof unknown, app::logtext::kUnknownErrorCode, static_cast<int>(code));
        text = unknown;
      }
      app::LogPrintf("%s%s", app::logtext::kOpenFailed, text);
      continue;
    }
    record->Identify(index);
    app::LogPrintf(app::logtext::kDeviceFound, record->name.Get().c_str());
    if (AttachDevice(record.get())) {
      // Input first, with its buffer queued, and only then the handler's
      // first request: the current Windows service drops a reply that comes
      // before midiInStart or finds no buffer, and a controller answers
      // within a millisecond or two.
      record->StartInput();
      StartDialogue(record.get());
      started = true;
      Adopt(std::move(record));
    } else {
      // The port stays open but is never started; no event may reach the
      // record once it is gone.
      service.DetachInput(record->inputHandle);
      record.reset();
    }
  }
}

void CMIDIManagerWin::Stop() {
  if (started) {
    std::lock_guard<std::mutex> guard(listLock);
    for (CMIDIDevice* listed : devices) {
      auto* device = static_cast<CMIDIDeviceWin*>(listed);
      // Input stops before the buffer is asked back: a port that is still
      // recording may be filling it.
      port::Result result = service.StopInput(device->inputHandle);
      if (result != port::kNoError) app::ConsolePrintf("midiInStop MMSYSERR %d", static_cast<int>(result));
      if (device->handler != nullptr) {
        result = service.UnprepareInputBuffer(device->inputHandle, device->inputHeader);
        if (result != port::kNoError) app::ConsolePrintf("midiInUnprepareHeader MMSYSERR %d", static_cast<int>(result));
      }
    }
    ForgetDevicesLocked();
  }
  started = false;
}

void CMIDIManagerWin::SendSysEx(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) {
  if (!device->outputOpen) return;
  // One send of a device at a time: a reply can now arrive, and be answered
  // from the input thread, while the handler's first request is still being
  // sent from the main thread.
  std::lock_guard<std::mutex> oneSendAtATime(device->sendLock);
  auto message = std::make_unique<OutgoingMessage>(bytes, length);
  port::MidiHeader& header = message->header;
  if (service.PrepareOutput(device->outputHandle, header) != port::kNoError) return;

  port::Result result = service.SendLong(device->outputHandle, header);
  for (int retry = 0; result == port::kNotReady && retry < kBusyRetries; ++retry) {
    service.Pause(kRetryPauseMs);
    result = service.SendLong(device->outputHandle, header);
  }
  if (result != port::kNoError) app::LogPrintf("%s", app::logtext::kSendFailed);

  for (int attempt = 1;; ++attempt) {
    if (service.UnprepareOutput(device->outputHandle, header) != port::kStillPlaying) return;
    service.Pause(kRetryPauseMs);
    if (attempt == kReleaseAttempts) break;
  }
  // The port still reads the bytes: they and the header must outlive this call.
  RetainWhilePortHolds(std::shared_ptr<OutgoingMessage>(std::move(message)));
}

void CMIDIManagerWin::SendSysExForward(const uint8_t* bytes, uint16_t length, CMIDIDeviceWin* device) {
  SendSysEx(bytes, length, device);
}
