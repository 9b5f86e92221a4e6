// What the stand-in winmm writes for the tests to read, into the directory
// named by FAKE_WINMM_OUT (a Windows path; nothing is written without it):
//   wire.txt        every long message an output port accepted, one a line:
//                   the port's name, ":", the bytes in upper-case hex
//   calls.txt       every output call and its result, one a line:
//                   "midiOutLongMsg BCR2000 67"
//   violations.txt  every rule of winmm the program broke, one a line; the
//                   same text also goes to standard error
//   stops.txt       every midiInStop, one a line: the port's name, how many
//                   events its input had delivered when the stop began, and
//                   the milliseconds since the program's first MIDI call,
//                   "Midi Fighter Twister 1 4801 5012"
//
// Threads: any; each line is written whole and flushed at once, so the
// files are complete however the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fake_winmm {

void RecordWire(const std::string& port, const uint8_t* bytes, size_t length);
void RecordCall(const char* function, const std::string& port, unsigned result);
void RecordViolation(const std::string& text);
void RecordStop(const std::string& port, int delivered, unsigned long long milliseconds);
// Reads FAKE_WINMM_OUT; called on first use of the stand-in.
void PrepareRecords();
// From DllMain at process exit: other threads are gone, perhaps mid-write.
void RecordsExiting();

} // namespace fake_winmm
