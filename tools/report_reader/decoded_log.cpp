// The decoded log: each entry of a report as the tool logged it and what it
// means, made one line at a time as it is shown (Reading::DecodedAt).
#include <cstdio>
#include <cstring>
#include <string>

#include "app/log_texts.h"
#include "handlers/bc_protocol.h"
#include "tools/report_reader/findings.h"
#include "tools/report_reader/midi_text.h"

namespace report_reader {

namespace {

// A format of the tool's table with its one directive filled in and its
// line feed, if any, left off.
std::string Filled(const char* format, const std::string& value) {
  std::string text(format);
  const size_t at = text.find('%');
  size_t end = at + 1;
  while (end < text.size() && std::strchr("lh", text[end]) != nullptr) ++end;
  text.replace(at, end + 1 - at, value);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string WithoutLineFeed(const char* text) {
  std::string bare(text);
  if (!bare.empty() && bare.back() == '\n') bare.pop_back();
  return bare;
}

std::string Logged(const Report& report, const Entry& entry) {
  switch (entry.kind) {
    case Kind::ShortMessage: {
      char text[64];
      std::snprintf(text, sizeof text, app::logtext::kShortMessage, entry.shortMessage[0], entry.shortMessage[1],
                    entry.shortMessage[2]);
      return WithoutLineFeed(text);
    }
    case Kind::SysEx:
      return std::string(app::logtext::kSysExReceived) + " (" + std::to_string(entry.size) + " bytes)";
    case Kind::DeviceFound:
      return Filled(app::logtext::kDeviceFound, report.DetailOf(entry).name);
    case Kind::DeviceRenamed:
      return Filled(app::logtext::kDeviceRenamed, report.DetailOf(entry).name);
    case Kind::EventsLost: {
      const Detail& detail = report.DetailOf(entry);
      std::string text = Filled(app::logtext::kEventsLost, std::to_string(detail.number));
      const size_t at = text.find('%');
      if (at != std::string::npos) text.replace(at, 2, detail.name);
      return text;
    }
    case Kind::SummaryDevice:
      return "\"" + report.DetailOf(entry).name + "\"" + (entry.supported ? app::logtext::kSupported : "");
    case Kind::SysExTooLong:
      return Filled(app::logtext::kSysExTooLong, std::to_string(report.DetailOf(entry).number));
    case Kind::GaveUp:
      return Filled(app::logtext::kGaveUp, std::to_string(report.DetailOf(entry).number));
    case Kind::UnknownErrorCode:
      return Filled(app::logtext::kUnknownErrorCode, report.DetailOf(entry).text);
    case Kind::OpenFailure:
    case Kind::Stopwatch:
    case Kind::NotUnderstood:
      return report.DetailOf(entry).text;
    case Kind::PortOpened:
      return WithoutLineFeed(app::logtext::kPortOpened);
    case Kind::PortClosed:
      return WithoutLineFeed(app::logtext::kPortClosed);
    case Kind::BrokenShort:
      return WithoutLineFeed(app::logtext::kBrokenShortMessage);
    case Kind::BrokenLong:
      return WithoutLineFeed(app::logtext::kBrokenLongMessage);
    case Kind::OpenFailed:
      return WithoutLineFeed(app::logtext::kOpenFailed);
    case Kind::SendFailed:
      return WithoutLineFeed(app::logtext::kSendFailed);
    case Kind::IdentityRequest:
      return app::logtext::kIdentityRequest;
    case Kind::IdentityReply:
      return app::logtext::kIdentityReply;
    case Kind::NoDeviceName:
      return app::logtext::kNoDeviceName;
    case Kind::SceneGood:
      return WithoutLineFeed(app::logtext::kSceneGood);
    case Kind::SceneBad:
      return WithoutLineFeed(app::logtext::kSceneBad);
    case Kind::UploadSucceeded:
      return WithoutLineFeed(app::logtext::kUploadSucceeded);
    case Kind::UploadFailed:
      return WithoutLineFeed(app::logtext::kUploadFailed);
    case Kind::NoDevices:
      return app::logtext::kNoDevices;
  }
  return "";
}

std::string Meaning(const Report& report, const Entry& entry) {
  switch (entry.kind) {
    case Kind::PortOpened:
      return "an input port opened";
    case Kind::PortClosed:
      return "an input port closed: the device was unplugged, or its driver closed it";
    case Kind::BrokenShort:
      return "the driver received a broken short message";
    case Kind::BrokenLong:
      return "the driver received a broken or unfinished System Exclusive message";
    case Kind::ShortMessage:
      return DescribeShortMessage(entry.shortMessage);
    case Kind::SysEx:
      return DescribeSysEx(report.SysExOf(entry), entry.size);
    case Kind::SysExTooLong:
      return "a System Exclusive message too long to keep was dropped";
    case Kind::EventsLost:
      return "events the tool could not take in time";
    case Kind::OpenFailed:
      return "an input port could not be opened (which one, the report does not say)";
    case Kind::OpenFailure:
      return "why the port could not be opened";
    case Kind::UnknownErrorCode:
      return "why the port could not be opened: an error code the tool does not know";
    case Kind::DeviceFound:
      return "an input port opened and was named";
    case Kind::SendFailed:
      return "a message to a controller could not be sent";
    case Kind::IdentityRequest:
      return "the identity request goes to a BCF2000/BCR2000";
    case Kind::IdentityReply:
      return "a message of " + std::to_string(kBCShortestReply) + " bytes or more examined as the identity reply";
    case Kind::NoDeviceName:
      return "the identity reply carried no name";
    case Kind::DeviceRenamed:
      return "the identity reply renamed the device";
    case Kind::SceneGood:
      return "the nanoKONTROL2's scene is the one needed";
    case Kind::SceneBad:
      return "the nanoKONTROL2's scene differs; the tool uploads its own";
    case Kind::UploadSucceeded:
      return "the nanoKONTROL2 wrote the scene";
    case Kind::UploadFailed:
      return "the nanoKONTROL2 did not confirm the write";
    case Kind::Stopwatch:
      return "time since the first stopwatch mark, and since the previous one, in seconds";
    case Kind::GaveUp:
      return "the run was ended: a driver call did not return";
    case Kind::SummaryDevice:
      return entry.supported ? "a device of the summary, supported" : "a device of the summary";
    case Kind::NoDevices:
      return "the summary: no device";
    case Kind::NotUnderstood:
      return "not understood";
  }
  return "not understood";
}

} // namespace

DecodedLine Reading::DecodedAt(size_t index) const {
  const Entry& entry = report.entries[index];
  return {entry.line, Logged(report, entry), Meaning(report, entry)};
}

} // namespace report_reader
