#include "tools/report_reader/findings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "app/log_texts.h"
#include "handlers/bc_protocol.h"
#include "handlers/nano_kontrol_protocol.h"
#include "handlers/nano_kontrol_scene.h"
#include "midi/model_code.h"
#include "tools/report_reader/midi_text.h"
#include "tools/report_reader/report_parser.h"

namespace report_reader {

namespace {

std::string FamilyOf(char modelCode) {
  const char* name = FamilyName(modelCode);
  return name != nullptr ? name : "no known family";
}

bool IsBC(char modelCode) {
  return modelCode == kBCF2000Code || modelCode == kBCR2000Code;
}

// Names compared as a mail program may have left them: a wrap can add or
// take away a blank.
std::string WithoutBlanks(const std::string& text) {
  std::string packed;
  for (const char c : text) {
    if (c != ' ') packed += c;
  }
  return packed;
}

bool SameName(const std::string& a, const std::string& b) {
  return WithoutBlanks(a) == WithoutBlanks(b);
}

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

struct Device {
  std::string portName; // as found, which decides its family
  std::string name;     // as the summary lists it
  bool supported = false;
  char family = kUnknownPortCode;
  std::vector<size_t> lines;
  bool renamed = false;
};

// Of a long list of lines, the ones a finding shows.
void Shown(std::vector<size_t>& lines, Finding& finding) {
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  finding.lineCount = lines.size();
  if (lines.size() > 10) {
    const size_t last = lines.back();
    lines.resize(8);
    lines.push_back(last);
  }
  finding.lines = std::move(lines);
}

class Reader {
 public:
  explicit Reader(const Report& report) : report(report), entries(report.entries) {}

  void Run(Reading& reading) {
    Devices();
    Dialogues();
    Failures();
    Traffic();
    reading.findings = std::move(findings);
    for (const Device& device : devices) {
      reading.devices.push_back({device.name, device.portName,
                                 device.family == kUnreadablePortCode ? "unreadable port" : FamilyOf(device.family),
                                 device.supported, device.renamed});
    }
    for (const Entry& entry : entries) {
      if (entry.kind == Kind::NotUnderstood) {
        reading.notUnderstood.push_back({report.DetailOf(entry).text, {entry.line}, 1, "not-understood", {}});
      }
    }
  }

 private:
  void Add(const char* kind, std::string text, std::vector<size_t> lines, std::vector<std::string> about = {}) {
    Finding finding;
    finding.kind = kind;
    finding.text = std::move(text);
    finding.devices = std::move(about);
    Shown(lines, finding);
    findings.push_back(std::move(finding));
  }

  const std::string& NameOf(const Entry& entry) const { return report.DetailOf(entry).name; }
  const uint8_t* BytesOf(const Entry& entry) const { return report.SysExOf(entry); }

  char BCReplyModel(const Entry& entry) const {
    return entry.kind == Kind::SysEx ? BCIdentityReplyModel(BytesOf(entry), entry.size) : 0;
  }
  bool IsNanoMessage(const Entry& entry) const {
    return entry.kind == Kind::SysEx && IsNanoKontrolMessage(BytesOf(entry), entry.size);
  }
  bool IsNanoScene(const Entry& entry) const {
    return entry.kind == Kind::SysEx && IsNanoKontrolScene(BytesOf(entry), entry.size);
  }

  std::vector<const Entry*> All(Kind kind) const {
    std::vector<const Entry*> found;
    for (const Entry& entry : entries) {
      if (entry.kind == kind) found.push_back(&entry);
    }
    return found;
  }

  static std::vector<size_t> LinesOf(const std::vector<const Entry*>& some) {
    std::vector<size_t> lines;
    lines.reserve(some.size());
    for (const Entry* entry : some) lines.push_back(entry->line);
    return lines;
  }

  void Devices() {
    const std::vector<const Entry*> listed = All(Kind::SummaryDevice);
    const std::vector<const Entry*> found = All(Kind::DeviceFound);
    const std::vector<const Entry*> renames = All(Kind::DeviceRenamed);
    if (!All(Kind::NoDevices).empty()) {
      Add("no-devices", "No MIDI device was found (\"" + std::string(app::logtext::kNoDevices) + "\").",
          LinesOf(All(Kind::NoDevices)));
    }
    if (listed.empty() && All(Kind::NoDevices).empty()) {
      Add("summary-missing", "The device summary is missing: the report is cut short, or this is not the whole paste.",
          {});
    }
    // The summary lists the devices in the order they were found, leaving
    // out those the tool could not take on: each listed device is the next
    // found one of its name, or, renamed by an identity reply, the next
    // found BC port.
    std::vector<bool> taken(found.size(), false);
    size_t next = 0;
    for (size_t index = 0; index < listed.size(); ++index) {
      Device device;
      device.name = NameOf(*listed[index]);
      device.supported = listed[index]->supported;
      device.lines.push_back(listed[index]->line);
      const bool renamedName = std::any_of(renames.begin(), renames.end(),
                                           [&](const Entry* rename) { return SameName(NameOf(*rename), device.name); });
      const Entry* foundLine = nullptr;
      for (size_t candidate = next; candidate < found.size() && foundLine == nullptr; ++candidate) {
        const char family = ClassifyPortName(NameOf(*found[candidate])).modelCode;
        if (SameName(NameOf(*found[candidate]), device.name) || (renamedName && IsBC(family))) {
          foundLine = found[candidate];
          taken[candidate] = true;
          next = candidate + 1;
        }
      }
      device.portName = foundLine != nullptr ? NameOf(*foundLine) : device.name;
      if (foundLine != nullptr) device.lines.push_back(foundLine->line);
      const bool unreadable = device.portName.empty() && device.name.empty();
      device.family = unreadable ? kUnreadablePortCode : ClassifyPortName(device.portName).modelCode;

      std::string text = "Device \"" + device.name + "\": ";
      if (unreadable) {
        text += "a port whose name and capabilities could not be read; not supported";
      } else {
        text += FamilyOf(device.family) + (device.supported ? ", supported" : ", not supported");
      }
      if (foundLine != nullptr && !SameName(device.portName, device.name)) {
        for (const Entry* rename : renames) {
          if (!SameName(NameOf(*rename), device.name)) continue;
          device.renamed = true;
          device.lines.push_back(rename->line);
          text += "; renamed by its identity reply from port name \"" + device.portName + "\"";
          const std::string model = ClaimedModel(*rename);
          if (!model.empty()) text += ", the reply claiming a " + model;
        }
      }
      text += ".";
      Add("device", text, device.lines, {device.name});
      devices.push_back(device);
    }
    for (size_t index = 0; index < found.size(); ++index) {
      if (taken[index] || listed.empty()) continue;
      if (NameOf(*found[index]).empty()) {
        Add("port-not-in-summary",
            "A port whose name and capabilities could not be read was found and left out of the summary.",
            {found[index]->line}, {""});
      } else {
        Add("port-not-in-summary", "Port \"" + NameOf(*found[index]) + "\" was found but is not in the summary.",
            {found[index]->line}, {NameOf(*found[index])});
      }
    }
  }

  // The model claimed by the identity reply that a rename came from: the
  // last one logged before it whose text is the new name (another device's
  // reply may have been logged in between), else the last one.
  std::string ClaimedModel(const Entry& rename) {
    if (claimedModels.empty()) {
      // Once for all renames, in one pass.
      std::vector<const Entry*> replies;
      for (const Entry& entry : entries) {
        if (BCReplyModel(entry) != 0) replies.push_back(&entry);
        if (entry.kind != Kind::DeviceRenamed) continue;
        char model = replies.empty() ? 0 : BCReplyModel(*replies.back());
        for (auto reply = replies.rbegin(); reply != replies.rend(); ++reply) {
          const uint8_t* bytes = BytesOf(**reply);
          const size_t length = (*reply)->size;
          if (length <= kBCIdentityTextOffset) continue;
          const std::string text(reinterpret_cast<const char*>(bytes) + kBCIdentityTextOffset,
                                 length - kBCIdentityTextOffset - 1);
          if (SameName(text, NameOf(entry))) {
            model = BCReplyModel(**reply);
            break;
          }
        }
        claimedModels[&entry] = model;
      }
    }
    const char model = claimedModels[&rename];
    return model != 0 ? FamilyOf(model) : "";
  }

  std::vector<const Device*> OfFamilies(std::initializer_list<char> families) const {
    std::vector<const Device*> some;
    for (const Device& device : devices) {
      if (std::find(families.begin(), families.end(), device.family) != families.end()) some.push_back(&device);
    }
    return some;
  }

  void Dialogues() {
    BCDialogue();
    NanoDialogue();
    for (const Device* device : OfFamilies({kXTouchMiniCode})) {
      Add("xtouch-reset",
          "X-TOUCH MINI \"" + device->name +
              "\": the tool sends its reset stream when the port has an output of the same name; the report "
              "does not log the stream and shows no answer.",
          device->lines, {device->name});
    }
  }

  void BCDialogue() {
    const std::vector<const Device*> bcs = OfFamilies({kBCF2000Code, kBCR2000Code});
    if (bcs.empty()) return;
    const std::vector<const Entry*> requests = All(Kind::IdentityRequest);
    const std::vector<const Entry*> replies = All(Kind::IdentityReply);
    const std::vector<const Entry*> nameless = All(Kind::NoDeviceName);
    if (!requests.empty()) {
      Add("identity-request",
          "Identity request sent to " + Plural(requests.size(), "BC device", "BC devices") + " (\"" +
              app::logtext::kIdentityRequest + "\").",
          LinesOf(requests));
    }
    size_t answered = 0;
    for (const Device* device : bcs) {
      if (device->renamed) {
        ++answered;
        Add("identity-answered",
            "BC device \"" + device->name + "\" answered the identity request and was renamed by it.", device->lines,
            {device->name});
      }
    }
    if (!nameless.empty()) {
      answered += nameless.size();
      std::vector<size_t> lines = LinesOf(nameless);
      std::string text = Plural(nameless.size(), "identity reply", "identity replies") + " carried no device name (\"" +
                         app::logtext::kNoDeviceName + "\")";
      if (bcs.size() == 1) text = "BC device \"" + bcs[0]->name + "\": " + text;
      Add("identity-nameless", text + ".", lines,
          bcs.size() == 1 ? std::vector<std::string>{bcs[0]->name} : std::vector<std::string>{});
    }
    const size_t unanswered = bcs.size() > answered ? bcs.size() - answered : 0;
    if (unanswered == 0) return;
    std::string text;
    if (bcs.size() == 1) {
      text = "BC device \"" + bcs[0]->name + "\": no accepted identity reply within the run";
    } else {
      text = Plural(unanswered, "BC device", "BC devices") + " gave no accepted identity reply within the run";
    }
    // Every accepted reply is logged as "Got identity response" too.
    const size_t refused = replies.size() > answered ? replies.size() - answered : 0;
    if (refused != 0) {
      text += " (" + Plural(refused, "message", "messages") + " of " + std::to_string(kBCShortestReply) +
              " bytes or more examined as a reply, \"" + app::logtext::kIdentityReply + "\", and not accepted)";
    }
    const std::vector<std::string> silent = SilentNames(bcs, answered);
    Add("identity-missing", text + ".", refused != 0 ? LinesOf(replies) : LinesOf(requests), silent);
    // Nothing came back at all: what the units' documentation says of that;
    // unless the request may never have gone out (a send failed, a driver
    // call hung).
    if (refused == 0 && RequestsWentOut()) {
      const std::string which =
          silent.size() == 1 ? "BC device \"" + silent[0] + "\"" : std::string("The silent BC devices");
      Add("likely-cause", which + ": a likely cause, not a certainty: " + kBCSilenceLikelyCause + ".",
          LinesOf(requests), silent);
    }
  }

  void NanoDialogue() {
    const std::vector<const Device*> nanos = OfFamilies({kNanoKontrolCode});
    if (nanos.empty()) return;
    if (nanos.size() == 1) nanoNames = {nanos[0]->name};
    const std::string who = nanos.size() == 1 ? "nanoKONTROL2 \"" + nanos[0]->name + "\""
                                              : std::string("A nanoKONTROL2 (the report cannot tell which)");
    const std::vector<const Entry*> good = All(Kind::SceneGood);
    const std::vector<const Entry*> bad = All(Kind::SceneBad);
    const std::vector<const Entry*> success = All(Kind::UploadSucceeded);
    const std::vector<const Entry*> failed = All(Kind::UploadFailed);
    for (const Entry* entry : good)
      Add("scene-good", who + ": its scene is the one the tool needs (\"current settings are good!\").", {entry->line},
          nanoNames);
    for (const Entry* entry : bad)
      Add("scene-bad",
          who + ": its scene differed from the tool's (\"current settings are bad!\"); the tool uploaded its own.",
          {entry->line}, nanoNames);
    // A controller that sends its scene again and again (a stuck loop)
    // gets one finding for all the equal dumps.
    std::map<std::string, std::vector<size_t>> scenes;
    std::map<std::string, const Entry*> firstDump;
    std::vector<std::string> order;
    for (const Entry& entry : entries) {
      if (!IsNanoScene(entry)) continue;
      const std::string text = SceneDifference(entry);
      if (scenes[text].empty()) {
        order.push_back(text);
        firstDump[text] = &entry;
      }
      scenes[text].push_back(entry.line);
    }
    for (const std::string& text : order) {
      const size_t count = scenes[text].size();
      std::string finding = who + ": ";
      finding += count == 1 ? "a scene dump" : std::to_string(count) + " scene dumps, each";
      finding += " " + text + ".";
      Add("scene-dump", finding, scenes[text], nanoNames);
      const std::string parameters = SceneParameters(*firstDump[text]);
      if (!parameters.empty()) {
        std::string named = who;
        named += ": ";
        named += parameters;
        named += ".";
        Add("scene-parameters", std::move(named), scenes[text], nanoNames);
      }
    }
    for (const Entry* entry : success) {
      Add("scene-written", who + ": the scene was rewritten and the write confirmed (\"data upload success!\").",
          {entry->line}, nanoNames);
    }
    if (nanos.size() == 1 && !bad.empty()) {
      FollowSceneUpload(who, *bad.front());
    } else if (!failed.empty()) {
      Add("scene-write-failed",
          who + ": writing the scene failed " + Plural(failed.size(), "time", "times") + " (\"data upload failed!!\").",
          LinesOf(failed), nanoNames);
    }
    if (good.size() + bad.size() < nanos.size()) {
      std::vector<size_t> lines;
      for (const Device* device : nanos) lines.insert(lines.end(), device->lines.begin(), device->lines.end());
      const size_t silent = nanos.size() - good.size() - bad.size();
      Add("scene-missing",
          nanos.size() == 1
              ? who + ": no scene came back within the run (no answer seen)."
              : Plural(silent, "nanoKONTROL2", "nanoKONTROL2s") + " sent no scene within the run (no answer seen).",
          lines, nanoNames);
      if (RequestsWentOut()) {
        Add("likely-cause",
            (nanos.size() == 1 ? who : std::string("The silent nanoKONTROL2s")) +
                ": a likely cause, not a certainty: " + kNanoSilenceLikelyCause + ".",
            lines, nanoNames);
      }
    }
  }

  // The upload after "current settings are bad!", as the tool follows it:
  // every message of the controller while an acknowledgement is awaited is
  // one, and one that does not say "done" is a failure. Only a refused
  // write is logged as such; a refused upload shows as its
  // acknowledgement alone.
  void FollowSceneUpload(const std::string& who, const Entry& bad) {
    enum { Upload, Write, Done } state = Upload;
    std::vector<size_t> uploadLines, writeLines;
    size_t failures = 0;
    size_t gaveUpAt = 0;
    bool after = false;
    for (const Entry& entry : entries) {
      if (&entry == &bad) after = true;
      if (!after || state == Done || !IsNanoMessage(entry)) continue;
      const bool says =
          NanoAcknowledgementSays(BytesOf(entry), entry.size, state == Upload ? kNanoUploadDone : kNanoWriteDone);
      if (says) {
        state = state == Upload ? Write : Done;
        continue;
      }
      (state == Upload ? uploadLines : writeLines).push_back(entry.line);
      state = Upload;
      if (++failures == static_cast<size_t>(kNanoMostFailures)) {
        gaveUpAt = entry.line;
        state = Done;
      }
    }
    if (!uploadLines.empty()) {
      Add("scene-upload-unacknowledged",
          who + ": the upload was not acknowledged as received " + Plural(uploadLines.size(), "time", "times") +
              " (another answer came back; the tool logs no line for it).",
          uploadLines, nanoNames);
    }
    if (!writeLines.empty()) {
      std::vector<size_t> lines = writeLines;
      const std::vector<size_t> logged = LinesOf(All(Kind::UploadFailed));
      lines.insert(lines.end(), logged.begin(), logged.end());
      Add("scene-write-failed",
          who + ": writing the scene failed " + Plural(writeLines.size(), "time", "times") +
              " (\"data upload failed!!\").",
          lines, nanoNames);
    }
    if (gaveUpAt != 0) {
      Add("scene-gave-up",
          who + ": the tool gave up after " + std::to_string(kNanoMostFailures) +
              " failures; the controller keeps its own scene.",
          {gaveUpAt}, nanoNames);
    } else if (state != Done) {
      Add("scene-not-written", who + ": no confirmed write seen within the run.", {bad.line}, nanoNames);
      if (uploadLines.empty() && writeLines.empty() && state == Upload) {
        Add("likely-cause", who + ": a likely cause, not a certainty: " + kNanoUploadUnansweredLikelyCause + ".",
            {bad.line}, nanoNames);
      }
    }
  }

  // The scene parameters in which a dump differs from the stored image,
  // named as Korg's editor names them; empty when none does.
  std::string SceneParameters(const Entry& scene) const {
    const std::array<uint8_t, kNanoSceneDataBytes> sent = NanoSceneData(BytesOf(scene));
    const std::array<uint8_t, kNanoSceneDataBytes> stored = NanoSceneData(kNanoSceneImage.data());
    std::vector<size_t> differ;
    for (size_t at = 0; at < sent.size(); ++at) {
      if (sent[at] != stored[at]) differ.push_back(at);
    }
    if (differ.empty()) return "";
    std::string text = "its scene differs from the tool's in ";
    constexpr size_t kMostNamed = 12;
    for (size_t index = 0; index < differ.size() && index < kMostNamed; ++index) {
      const NanoSceneParameter parameter = NanoSceneParameterAt(differ[index]);
      text += index == 0 ? "" : "; ";
      text += parameter.name + " (" + NanoSceneValueText(parameter.value, sent[differ[index]]) +
              ", the tool's: " + NanoSceneValueText(parameter.value, stored[differ[index]]) + ")";
    }
    if (differ.size() > kMostNamed) text += "; and " + std::to_string(differ.size() - kMostNamed) + " more";
    if (differ.size() == 1 && differ[0] == kNanoFactoryDifference) {
      text += ": the LED mode alone, as a factory-fresh unit's scene differs";
    }
    return text;
  }

  // How a scene dump differs from the stored image, as the end of a sentence.
  std::string SceneDifference(const Entry& scene) const {
    const uint8_t* bytes = BytesOf(scene);
    std::vector<size_t> offsets;
    for (size_t at = 0; at < kNanoSceneImage.size(); ++at) {
      if (bytes[at] != kNanoSceneImage[at]) offsets.push_back(at);
    }
    if (offsets.empty()) return "equal to the tool's stored image";
    std::string text = "with " + Plural(offsets.size(), "byte", "bytes") + " of " +
                       std::to_string(kNanoSceneImage.size()) + " different from the tool's stored image, at offset";
    text += offsets.size() == 1 ? " " : "s ";
    char item[48];
    for (size_t index = 0; index < offsets.size() && index < 40; ++index) {
      std::snprintf(item, sizeof item, "%s%zu (%02X, stored %02X)", index == 0 ? "" : ", ", offsets[index],
                    bytes[offsets[index]], kNanoSceneImage[offsets[index]]);
      text += item;
    }
    if (offsets.size() > 40) text += ", ...";
    if (offsets.size() == 1 && offsets[0] == kNanoChannelByte) text += ": the global MIDI channel only";
    return text;
  }

  void Failures() {
    for (size_t index = 0; index < entries.size(); ++index) {
      const Entry& entry = entries[index];
      if (entry.kind != Kind::OpenFailed) continue;
      const Entry* reason = index + 1 < entries.size() ? &entries[index + 1] : nullptr;
      std::string text = "A port could not be opened (\"Error opening midi\"; the report does not say which)";
      std::vector<size_t> lines = {entry.line};
      if (reason != nullptr && (reason->kind == Kind::OpenFailure || reason->kind == Kind::UnknownErrorCode)) {
        lines.push_back(reason->line);
        text += ": " + OpenFailureWords(report.DetailOf(*reason).text, reason->kind);
      }
      Add("open-failed", text + ".", lines);
    }
    const auto counted = [this](Kind kind, const char* name, const std::string& what) {
      const std::vector<const Entry*> some = All(kind);
      if (!some.empty()) Add(name, what + " " + Plural(some.size(), "time", "times") + ".", LinesOf(some));
    };
    counted(Kind::SendFailed, "send-failed", "A message to a controller could not be sent (\"midi send failed!\")");
    counted(Kind::BrokenShort, "broken-short", "The driver reported a broken short message (\"MIM_ERROR\")");
    counted(Kind::BrokenLong, "broken-long",
            "The driver reported a broken or unfinished System Exclusive message (\"MIM_LONGERROR\")");
    counted(Kind::PortClosed, "port-closed",
            "A port reported itself closed, as an unplugged device does (\"MIM_CLOSE\")");
    for (const Entry* entry : All(Kind::SysExTooLong)) {
      Add("sysex-too-long",
          "A System Exclusive message longer than " + std::to_string(report.DetailOf(*entry).number) +
              " bytes was dropped as it came in; the device sent it, the tool kept none of it.",
          {entry->line});
    }
    for (const Entry* entry : All(Kind::EventsLost)) {
      Add("events-lost",
          std::to_string(report.DetailOf(*entry).number) + " MIDI events from \"" + NameOf(*entry) +
              "\" were lost: the tool could not take them as fast as they came.",
          {entry->line});
    }
    for (const Entry* entry : All(Kind::GaveUp)) {
      Add("gave-up",
          "The run was ended after " + std::to_string(report.DetailOf(*entry).number) +
              " seconds: a call to the MIDI service never returned (a driver hang).",
          {entry->line});
    }
  }

  static std::string OpenFailureWords(const std::string& reason, Kind kind) {
    if (kind == Kind::UnknownErrorCode) return "error code " + reason;
    const std::string text = reason + "\n";
    if (text == app::logtext::kAlreadyInUse) return "the port is in use by another program";
    if (text == app::logtext::kNoMemory) return "out of memory, or the port is in use by another program";
    if (text == app::logtext::kBadDeviceId) return "the port was gone by then";
    return "the driver refused the request (" + reason + ")";
  }

  void Traffic() {
    // One pass: a flood's report holds a million messages.
    std::map<std::string, size_t> kinds;
    std::set<unsigned> channels;
    size_t messages = 0;
    size_t sysex = 0;
    std::vector<size_t> first;
    size_t last = 0;
    for (const Entry& entry : entries) {
      if (entry.kind == Kind::ShortMessage) {
        ++messages;
        ++kinds[ShortMessageKind(entry.shortMessage)];
        const unsigned channel = ChannelOf(entry.shortMessage);
        if (channel != 0) channels.insert(channel);
      } else if (entry.kind == Kind::SysEx) {
        ++sysex;
      } else {
        continue;
      }
      // Entries come in line order: the first ten, and the last.
      if (first.size() < 10) first.push_back(entry.line);
      last = entry.line;
    }
    std::string counts;
    for (const char* kind : {"note on", "note off", "control change", "pitch bend", "other"}) {
      if (kinds[kind] == 0) continue;
      if (!counts.empty()) counts += ", ";
      counts += std::to_string(kinds[kind]) + " " + kind;
    }
    if (sysex != 0) {
      if (!counts.empty()) counts += ", ";
      counts += Plural(sysex, "System Exclusive message", "System Exclusive messages");
    }
    if (!channels.empty()) {
      counts += "; channel";
      counts += channels.size() == 1 ? " " : "s ";
      bool first = true;
      for (const unsigned channel : channels) {
        counts += (first ? "" : ", ") + std::to_string(channel);
        first = false;
      }
    }
    const auto addTraffic = [&](std::string text, std::vector<std::string> about) {
      Finding finding;
      finding.kind = "traffic";
      finding.text = std::move(text);
      finding.devices = std::move(about);
      finding.lineCount = messages + sysex;
      finding.lines = first;
      if (finding.lineCount > 10) {
        finding.lines.resize(8);
        finding.lines.push_back(last);
      }
      findings.push_back(std::move(finding));
    };
    if (devices.empty()) {
      if (!counts.empty()) addTraffic("Input logged: " + counts + ".", {});
      return;
    }
    if (messages == 0 && sysex == 0) {
      for (const Device& device : devices) {
        Add("no-input", "Device \"" + device.name + "\": no input seen: was a control moved?", device.lines,
            {device.name});
      }
      return;
    }
    if (devices.size() == 1) {
      addTraffic("Device \"" + devices[0].name + "\" sent " + counts + ".", {devices[0].name});
      return;
    }
    addTraffic(
        "Input logged from the " + std::to_string(devices.size()) + " devices: " + counts +
            ". The report names no device on these lines, so it cannot tell which device sent what, except where "
            "a message's content tells (identity replies, KORG scenes).",
        AllNames());
    if (messages == 0) {
      for (const Device& device : devices) {
        if (IsBC(device.family) || device.family == kNanoKontrolCode) continue;
        Add("no-input",
            "Device \"" + device.name + "\": no input seen: was a control moved? (only System Exclusive was logged)",
            device.lines, {device.name});
      }
    }
  }

  // Whether every request the tool logged can have reached its unit: no send
  // failed and no driver call hung (the report does not say which request
  // a failure was).
  bool RequestsWentOut() const { return All(Kind::SendFailed).empty() && All(Kind::GaveUp).empty(); }

  std::vector<std::string> AllNames() const {
    std::vector<std::string> names;
    for (const Device& device : devices) names.push_back(device.name);
    return names;
  }

  // The BC devices that did not answer, where the report can tell them:
  // with replies that carried no name, it cannot.
  static std::vector<std::string> SilentNames(const std::vector<const Device*>& bcs, size_t answered) {
    std::vector<std::string> names;
    size_t renamed = 0;
    for (const Device* device : bcs) renamed += device->renamed ? 1 : 0;
    if (renamed != answered) return names;
    for (const Device* device : bcs) {
      if (!device->renamed) names.push_back(device->name);
    }
    return names;
  }

  const Report& report;
  const std::vector<Entry>& entries;
  std::vector<Device> devices;
  std::vector<std::string> nanoNames; // the one nanoKONTROL2's, where there is one
  std::vector<Finding> findings;
  std::map<const Entry*, char> claimedModels;
};

} // namespace

Readings ReadAll(std::string_view pasted) {
  Readings readings;
  std::vector<std::string> unreadNotes;
  for (mail::MailText& text : mail::TextsOf(pasted)) {
    std::vector<Report> reports = ParseReports(text.Text());
    if (reports.empty()) {
      unreadNotes.insert(unreadNotes.end(), text.notes.begin(), text.notes.end());
      continue;
    }
    for (Report& report : reports) {
      Reading& reading = readings.reports.emplace_back();
      reading.report = std::move(report);
      reading.found = true;
      reading.firstLine = reading.report.firstLine;
      reading.lastLine = reading.report.lastLine;
      reading.quoteDepth = reading.report.quoteDepth;
      reading.origin = text.origin;
      reading.notes = text.notes;
      Reader(reading.report).Run(reading);
    }
    // The decoded text goes as soon as its reports are read: the readings
    // keep what they use.
    std::string().swap(text.decoded);
  }
  if (readings.reports.empty()) {
    Reading& nothing = readings.reports.emplace_back();
    nothing.findings.push_back({"No Portprobe report found in this text.", {}, 0, "no-report", {}});
    nothing.notes = std::move(unreadNotes);
  }
  return readings;
}

bool Readings::Plain() const {
  return reports.size() == 1 && !reports[0].origin.mail && reports[0].quoteDepth == 0;
}

Reading Read(std::string_view pasted) {
  return std::move(ReadAll(pasted).reports.front());
}

} // namespace report_reader
