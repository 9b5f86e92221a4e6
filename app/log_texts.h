// Every text the tool writes into the report, in one table: the tool logs
// them from here and the report reader (tools/report_reader) recognises
// them from here, so a text changed in one place is changed for both.
//
// Formats keep printf's directives; a text whose format ends in "\n" ends in
// a bare line feed in the report, one logged as a line (LogLine) in CR LF,
// and "Updated device name: %s" and "Bad response, no device name." end no
// line at all: what is logged next continues on the same line.
#pragma once

namespace app {

namespace logtext {

// The input path.
constexpr const char* kPortOpened = "MIM_OPEN\n";
constexpr const char* kPortClosed = "MIM_CLOSE\n";
constexpr const char* kBrokenShortMessage = "MIM_ERROR\n";
constexpr const char* kBrokenLongMessage = "MIM_LONGERROR\n";
constexpr const char* kShortMessage = "got MIDI: %X %X %X\n";
constexpr const char* kSysExReceived = "SysEx message received:"; // a line, then its hex dump
constexpr const char* kSysExTooLong = "SysEx message longer than %u bytes dropped.\n";
constexpr const char* kEventsLost = "%llu MIDI events lost on \"%s\".\n";

// The device manager.
constexpr const char* kOpenFailed = "Error opening midi\n";
constexpr const char* kBadDeviceId = "MMSYSERR_BADDEVICEID\n";
constexpr const char* kAlreadyInUse = "MMSYSERR_ALLOCATED: The device is already in use.\n";
constexpr const char* kNoMemory = "MMSYSERR_NOMEM: Memory allocation error, or device already in use.\n";
constexpr const char* kInvalidFlag = "MMSYSERR_INVALFLAG\n";
constexpr const char* kInvalidParameter = "MMSYSERR_INVALPARAM\n";
constexpr const char* kUnknownErrorCode = "Unknown error code: %d\n";
constexpr const char* kDeviceFound = "MIDI device found: %s\n";
constexpr const char* kSendFailed = "midi send failed!\n";

// The dialogues.
constexpr const char* kIdentityRequest = "Send identiy request"; // a line
constexpr const char* kIdentityReply = "Got identity response";  // a line
constexpr const char* kNoDeviceName = "Bad response, no device name.";
constexpr const char* kDeviceRenamed = "Updated device name: %s";
constexpr const char* kSceneGood = "current settings are good!\n";
constexpr const char* kSceneBad = "current settings are bad!\n";
constexpr const char* kUploadSucceeded = "data upload success!\n";
constexpr const char* kUploadFailed = "data upload failed!!\n";

// The run.
constexpr const char* kStopwatch = "Run Time: %f  Interval Time: %f"; // a line
constexpr const char* kGaveUp =
    "Portprobe stopped waiting after %u seconds: a call to the MIDI service did not return.\n";

// The device summary after the log: "\r\n\r\n", then one line (CR LF) per
// device, its name in double quotes and kSupported for a supported one, or
// kNoDevices.
constexpr const char* kSupported = " Supported by Veltrakon.";
constexpr const char* kNoDevices = "No midi devices found.";

} // namespace logtext

} // namespace app
