// The last step of the run on Windows: the report onto the clipboard.
//
// The step is written against the few clipboard and global-memory calls it
// makes, so that its order and its failures can be checked without a
// Windows clipboard; report_export_win.cpp gives it the real ones.
//
// Threads: once a run, from the main thread after the report was taken,
// or from the watchdog's thread when a call to the MIDI service never
// returned (app/run.h); never from both.
#pragma once

#include <cstddef>
#include <string>

namespace app {

class ClipboardCalls {
 public:
  using Memory = void*;
  virtual ~ClipboardCalls() = default;
  virtual bool Open() = 0;                                  // OpenClipboard(NULL)
  virtual void Empty() = 0;                                 // EmptyClipboard
  virtual Memory Allocate(size_t bytes) = 0;                // GlobalAlloc(GMEM_MOVEABLE, bytes)
  virtual void* Lock(Memory memory) = 0;                    // GlobalLock
  virtual void Unlock(Memory memory) = 0;                   // GlobalUnlock
  virtual void Free(Memory memory) = 0;                     // GlobalFree
  virtual bool SetData(unsigned format, Memory memory) = 0; // SetClipboardData
  virtual void Close() = 0;                                 // CloseClipboard
  virtual void Pause(unsigned milliseconds) = 0;            // Sleep, between attempts to open
};

// Opening the clipboard is tried this often, this far apart: another
// program (a clipboard manager, a remote desktop's clipboard sync) holds it
// for moments at a time, and Microsoft advises trying again.
constexpr int kClipboardOpenAttempts = 20;
constexpr unsigned kClipboardOpenPauseMs = 50;

constexpr unsigned kClipboardText = 1;         // CF_TEXT
constexpr unsigned kClipboardUnicodeText = 13; // CF_UNICODETEXT

// The report's bytes as 8-bit text (an allocation of twice the length plus
// two, the bytes and one zero), and the same report as UTF-16 text so that
// port names outside ASCII paste correctly. True, with the closing message
// on the console, when the report is on the clipboard; false when it is not
// (after "Could not open clipboard." when the clipboard stayed held), and
// the caller must put it somewhere else.
bool CopyReportToClipboard(const std::string& report, ClipboardCalls& calls);

// UTF-8 to UTF-16; each byte that is not part of a well-formed sequence
// becomes U+FFFD, so a controller's odd identity bytes cannot lose the rest.
std::u16string Utf8ToUtf16(const std::string& text);

} // namespace app
