// The one seam between the device layer and a MIDI service.
//
// Everything in app/, midi/ and handlers/ reaches MIDI hardware only through
// a port::MidiService. Each service implements it in a folder of its own:
//  - winmm/: the Windows multimedia MIDI service, the product's;
//  - rtmidi/: RtMidi, over the ALSA sequencer on Linux and CoreMIDI on macOS;
//  - jack/: a JACK server, with one client for all ports;
//  - null/: no service, no ports;
//  - simulated/: virtual controllers, for the tests, portprobe-demo, the
//    stand-in winmm.dll and jack-controllers (those two, and what tests
//    strain the service with, are the test kit's: testkit/).
// shared/ is no service: it holds what the RtMidi and JACK layers both use
// (the input port with its hand-over queue and the input calls over it, the
// dispatcher, the wake-up and the port-name rules), and the message splitter,
// with which the simulated service also reads bytes off its wire.
// The device layer never includes a service's implementation. Only the file
// that makes a build's one service (posix_platform.cpp here, and each
// service folder's own *_platform.cpp) does, and, for the simulated service,
// the tests, the benchmarks, the test kit and portprobe-demo.
//
// The interface keeps the shape of the Windows multimedia MIDI calls: ports
// are addressed by index, names are UTF-8, failures are the numeric winmm
// result codes (callers print them), and input events use the winmm message
// codes. A service that is not winmm maps its own behaviour onto these.
//
// Threads: enumeration, open, start, stop and the buffer calls come from the
// main thread and from the thread that runs the input callback. The input
// callback is called on a thread of the service, never on the caller's thread,
// except for kEventOpen, which is delivered before OpenInput returns (the user sees
// "MIM_OPEN" before the port is reported as found). A service delivers the
// events of one port in order and never two events of one port at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace port {

// Result codes. Callers print these numbers, so they keep winmm's values.
using Result = uint32_t;
constexpr Result kNoError = 0;
constexpr Result kBadDeviceId = 2;   // MMSYSERR_BADDEVICEID
constexpr Result kError = 1;         // MMSYSERR_ERROR, unspecified failure
constexpr Result kInvalidHandle = 5; // MMSYSERR_INVALHANDLE
constexpr Result kNoDriver = 6;      // MMSYSERR_NODRIVER: the device is gone
constexpr Result kAllocated = 4;     // MMSYSERR_ALLOCATED
constexpr Result kNoMem = 7;         // MMSYSERR_NOMEM
constexpr Result kNotSupported = 8;  // MMSYSERR_NOTSUPPORTED
constexpr Result kInvalFlag = 10;    // MMSYSERR_INVALFLAG
constexpr Result kInvalParam = 11;   // MMSYSERR_INVALPARAM
constexpr Result kUnprepared = 64;   // MIDIERR_UNPREPARED
constexpr Result kStillPlaying = 65; // MIDIERR_STILLPLAYING
constexpr Result kNotReady = 67;     // MIDIERR_NOTREADY

// Input event codes passed to the callback, winmm's values.
constexpr uint32_t kEventOpen = 0x3C1;      // MIM_OPEN
constexpr uint32_t kEventClose = 0x3C2;     // MIM_CLOSE
constexpr uint32_t kEventData = 0x3C3;      // MIM_DATA: param1 is the short-message word
constexpr uint32_t kEventLongData = 0x3C4;  // MIM_LONGDATA: param1 is the MidiHeader*
constexpr uint32_t kEventError = 0x3C5;     // MIM_ERROR: an invalid short message
constexpr uint32_t kEventLongError = 0x3C6; // MIM_LONGERROR: an invalid long message
constexpr uint32_t kEventMoreData = 0x3CC;  // MIM_MOREDATA

// Header flags, winmm's values.
constexpr uint32_t kHeaderDone = 0x1;     // MHDR_DONE
constexpr uint32_t kHeaderPrepared = 0x2; // MHDR_PREPARED
constexpr uint32_t kHeaderInQueue = 0x4;  // MHDR_INQUEUE

// A long-message buffer header, the layer's counterpart of MIDIHDR. The
// caller owns it and its bytes; between prepare and a successful unprepare the
// service may read or write both, so neither may move or be freed then.
struct MidiHeader {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  void* layerState = nullptr; // owned by the service that prepared the header
};

// Which list of ports an index counts in.
enum class Direction { Input, Output };

struct InputPortTag;
struct OutputPortTag;
using InputHandle = InputPortTag*;
using OutputHandle = OutputPortTag*;

// The input callback: port, event code, the context given at open, and the
// event's two parameters (param2 is the service's time stamp, unused).
using InputCallback = void (*)(InputHandle port, uint32_t message, uintptr_t context, uintptr_t param1,
                               uintptr_t param2);

class MidiService {
 public:
  virtual ~MidiService() = default;

  virtual unsigned InputCount() = 0;
  // The port's name in UTF-8, or a failure code (kBadDeviceId, kInvalParam, ...).
  [[nodiscard]] virtual Result InputName(unsigned index, std::string& name) = 0;
  [[nodiscard]] virtual Result OpenInput(unsigned index, InputCallback callback, uintptr_t context,
                                         InputHandle& handle) = 0;
  [[nodiscard]] virtual Result StartInput(InputHandle handle) = 0;
  [[nodiscard]] virtual Result StopInput(InputHandle handle) = 0;
  [[nodiscard]] virtual Result PrepareInputBuffer(InputHandle handle, MidiHeader& header) = 0;
  [[nodiscard]] virtual Result AddInputBuffer(InputHandle handle, MidiHeader& header) = 0;
  // Releases the buffer. On a stopped port a buffer still queued is taken
  // back from the service first (winmm needs midiInReset for that); on a
  // running port a queued buffer is refused with kStillPlaying.
  [[nodiscard]] virtual Result UnprepareInputBuffer(InputHandle handle, MidiHeader& header) = 0;
  // After this returns, no event of this port reaches the callback any more and
  // none is running. The port stays open (the device layer never closes one).
  // Called before the context given at open is destroyed.
  virtual void DetachInput(InputHandle handle) = 0;

  virtual unsigned OutputCount() = 0;
  [[nodiscard]] virtual Result OutputName(unsigned index, std::string& name) = 0;
  [[nodiscard]] virtual Result OpenOutput(unsigned index, OutputHandle& handle) = 0;
  [[nodiscard]] virtual Result PrepareOutput(OutputHandle handle, MidiHeader& header) = 0;
  // 0: the bytes are on their way; kNotReady: busy, try again; other: failure.
  [[nodiscard]] virtual Result SendLong(OutputHandle handle, MidiHeader& header) = 0;
  // 0: released; kStillPlaying: the service still holds the bytes.
  [[nodiscard]] virtual Result UnprepareOutput(OutputHandle handle, MidiHeader& header) = 0;

  // The device behind port `index` of the list `direction` names, as a text
  // the service gives every port of one physical device alike (winmm: the
  // device interface path; compared without regard to ASCII case) and two
  // units of one model differently. kNotSupported where the service cannot
  // tell; an empty text with kNoError means it could not tell either.
  [[nodiscard]] virtual Result DeviceOf(Direction direction, unsigned index, std::string& device) {
    (void)direction;
    (void)index;
    (void)device;
    return kNotSupported;
  }

  // Events of the port that the service delivered to this layer and that
  // the layer could not keep (a full hand-over queue): what the report must
  // say it lacks. A SysEx that finds no queued buffer is not one; the
  // service itself drops it, by design for a device without a dialogue.
  virtual uint64_t LostInputEvents(InputHandle handle) {
    (void)handle;
    return 0;
  }

  // Keeps the computer and its display awake while a controller is in use.
  // Called after every short message; a no-op where there is no idle timer.
  virtual void KeepAwake() {}
  // Pauses the calling thread between send retries. Virtual so that tests
  // can count the pauses instead of sleeping.
  virtual void Pause(unsigned milliseconds);

  // Stops all event delivery and waits for a running callback to return.
  // Called once when the process (or a test) shuts down the device layer.
  virtual void Shutdown() = 0;
};

// The service of the platform this program was built for: winmm on Windows;
// elsewhere RtMidi when it reaches the ALSA sequencer (or CoreMIDI), else a
// running JACK server through the JACK layer, else a service without ports
// (posix_platform.cpp).
MidiService& PlatformService();

} // namespace port
