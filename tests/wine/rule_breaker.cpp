// rule_breaker.exe MODE: a small winmm client that breaks one of winmm's
// rules on purpose, so the tests can see that the stand-in winmm.dll catches
// it. Each mode expects the scenario named beside it:
//   call-in-callback       (unknown-port)   midiInAddBuffer inside the callback
//   changed-queued-input   (bcf2000-rename) points a queued MIDIHDR elsewhere
//   changed-held-send      (busy-output)    overwrites a send the port still holds
//   freed-held-send        (busy-output)    frees a send the port still holds
//   request-before-start   (bcf2000-rename) sends the request before midiInStart
//   request-without-buffer (bcf2000-rename) sends it to started input with no buffer
// Exits 0 when it got as far as breaking the rule, 2 when it could not.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr BYTE kIdentityRequest[] = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7};

volatile LONG shortMessages = 0;
MIDIHDR callbackHeader;
char callbackBytes[64];

void CALLBACK AddBufferInCallback(HMIDIIN device, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (message != MIM_DATA) return;
  InterlockedIncrement(&shortMessages);
  // The rule broken: a multimedia call from inside the driver callback.
  midiInAddBuffer(device, &callbackHeader, sizeof callbackHeader);
}

void CALLBACK IgnoreEvents(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

bool WaitFor(volatile LONG& counter, DWORD milliseconds) {
  for (DWORD waited = 0; waited < milliseconds; waited += 10) {
    if (counter > 0) return true;
    Sleep(10);
  }
  return counter > 0;
}

int Fail(const char* step, MMRESULT result) {
  std::fprintf(stderr, "rule_breaker: %s failed with %u\n", step, result);
  return 2;
}

int CallInCallback() {
  HMIDIIN input = nullptr;
  MMRESULT r = midiInOpen(&input, 0, reinterpret_cast<DWORD_PTR>(&AddBufferInCallback), 0, CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) return Fail("midiInOpen", r);
  callbackHeader.lpData = callbackBytes;
  callbackHeader.dwBufferLength = sizeof callbackBytes;
  r = midiInPrepareHeader(input, &callbackHeader, sizeof callbackHeader);
  if (r != MMSYSERR_NOERROR) return Fail("midiInPrepareHeader", r);
  r = midiInStart(input);
  if (r != MMSYSERR_NOERROR) return Fail("midiInStart", r);
  return WaitFor(shortMessages, 5000) ? 0 : Fail("waiting for a short message", 0);
}

// Sends the identity request to output 0 and takes its header back.
MMRESULT SendIdentityRequest() {
  HMIDIOUT output = nullptr;
  MMRESULT r = midiOutOpen(&output, 0, 0, 0, CALLBACK_NULL);
  if (r != MMSYSERR_NOERROR) return r;
  static MIDIHDR request;
  request.lpData = reinterpret_cast<LPSTR>(const_cast<BYTE*>(kIdentityRequest));
  request.dwBufferLength = sizeof kIdentityRequest;
  r = midiOutPrepareHeader(output, &request, sizeof request);
  if (r == MMSYSERR_NOERROR) r = midiOutLongMsg(output, &request, sizeof request);
  if (r == MMSYSERR_NOERROR) r = midiOutUnprepareHeader(output, &request, sizeof request);
  return r;
}

// Sends until the port takes the bytes; false when it never does.
bool SendWhileBusy(HMIDIOUT output, MIDIHDR& header) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const MMRESULT r = midiOutLongMsg(output, &header, sizeof header);
    if (r == MMSYSERR_NOERROR) return true;
    if (r != MIDIERR_NOTREADY) return false;
    Sleep(10);
  }
  return false;
}

int ChangedQueuedInput() {
  static char bytes[512];
  static char elsewhere[512];
  static MIDIHDR header;
  HMIDIIN input = nullptr;
  MMRESULT r = midiInOpen(&input, 0, reinterpret_cast<DWORD_PTR>(&IgnoreEvents), 0, CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) return Fail("midiInOpen", r);
  header.lpData = bytes;
  header.dwBufferLength = sizeof bytes;
  r = midiInPrepareHeader(input, &header, sizeof header);
  if (r == MMSYSERR_NOERROR) r = midiInAddBuffer(input, &header, sizeof header);
  if (r != MMSYSERR_NOERROR) return Fail("queueing the buffer", r);
  // The rule broken: the driver holds the header, and it is pointed elsewhere.
  header.lpData = elsewhere;
  r = midiInStart(input);
  if (r != MMSYSERR_NOERROR) return Fail("midiInStart", r);
  // The controller's reply now arrives for the changed header.
  r = SendIdentityRequest();
  if (r != MMSYSERR_NOERROR) return Fail("sending the request", r);
  Sleep(1000);
  return 0;
}

// The order the tool once had: the request goes out before the input that
// gets its answer is started, or while it has no buffer.
int EarlyRequest(bool startFirst) {
  static char bytes[512];
  static MIDIHDR header;
  HMIDIIN input = nullptr;
  MMRESULT r = midiInOpen(&input, 0, reinterpret_cast<DWORD_PTR>(&IgnoreEvents), 0, CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) return Fail("midiInOpen", r);
  if (startFirst) {
    r = midiInStart(input);
    if (r != MMSYSERR_NOERROR) return Fail("midiInStart", r);
  }
  r = SendIdentityRequest();
  if (r != MMSYSERR_NOERROR) return Fail("sending the request", r);
  header.lpData = bytes;
  header.dwBufferLength = sizeof bytes;
  r = midiInPrepareHeader(input, &header, sizeof header);
  if (r == MMSYSERR_NOERROR) r = midiInAddBuffer(input, &header, sizeof header);
  if (r != MMSYSERR_NOERROR) return Fail("queueing the buffer", r);
  if (!startFirst) {
    r = midiInStart(input);
    if (r != MMSYSERR_NOERROR) return Fail("midiInStart", r);
  }
  Sleep(500);
  midiInStop(input);
  midiInReset(input);
  midiInUnprepareHeader(input, &header, sizeof header);
  return 0;
}

// The busy-output scenario's second output never gives a send back. Its
// input listens first, so that only the rule broken here is broken.
int HeldSend(bool freeIt) {
  static char inputBytes[512];
  static MIDIHDR inputHeader;
  HMIDIIN input = nullptr;
  MMRESULT r = midiInOpen(&input, 1, reinterpret_cast<DWORD_PTR>(&IgnoreEvents), 0, CALLBACK_FUNCTION);
  if (r != MMSYSERR_NOERROR) return Fail("midiInOpen", r);
  inputHeader.lpData = inputBytes;
  inputHeader.dwBufferLength = sizeof inputBytes;
  r = midiInPrepareHeader(input, &inputHeader, sizeof inputHeader);
  if (r == MMSYSERR_NOERROR) r = midiInAddBuffer(input, &inputHeader, sizeof inputHeader);
  if (r == MMSYSERR_NOERROR) r = midiInStart(input);
  if (r != MMSYSERR_NOERROR) return Fail("starting input", r);
  HMIDIOUT output = nullptr;
  r = midiOutOpen(&output, 1, 0, 0, CALLBACK_NULL);
  if (r != MMSYSERR_NOERROR) return Fail("midiOutOpen", r);
  // Header and bytes in pages of their own, so that freeing them is visible.
  auto* block = static_cast<BYTE*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (block == nullptr) return Fail("VirtualAlloc", 0);
  auto* header = reinterpret_cast<MIDIHDR*>(block);
  BYTE* bytes = block + 512;
  std::memcpy(bytes, kIdentityRequest, sizeof kIdentityRequest);
  header->lpData = reinterpret_cast<LPSTR>(bytes);
  header->dwBufferLength = sizeof kIdentityRequest;
  r = midiOutPrepareHeader(output, header, sizeof(MIDIHDR));
  if (r != MMSYSERR_NOERROR || !SendWhileBusy(output, *header)) return Fail("sending", r);
  r = midiOutUnprepareHeader(output, header, sizeof(MIDIHDR));
  if (r != MIDIERR_STILLPLAYING) return Fail("expecting the port to keep the send", r);
  // The rule broken: the port still reads these bytes.
  if (freeIt) {
    VirtualFree(block, 0, MEM_RELEASE);
  } else {
    std::memset(bytes, 0, sizeof kIdentityRequest);
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "call-in-callback") == 0) return CallInCallback();
  if (std::strcmp(mode, "changed-queued-input") == 0) return ChangedQueuedInput();
  if (std::strcmp(mode, "changed-held-send") == 0) return HeldSend(false);
  if (std::strcmp(mode, "freed-held-send") == 0) return HeldSend(true);
  if (std::strcmp(mode, "request-before-start") == 0) return EarlyRequest(false);
  if (std::strcmp(mode, "request-without-buffer") == 0) return EarlyRequest(true);
  std::fprintf(stderr, "rule_breaker: unknown mode '%s'\n", mode);
  return 2;
}
