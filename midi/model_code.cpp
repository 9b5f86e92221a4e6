#include "midi/model_code.h"

#include <array>

namespace {

enum class Match { Anywhere, Prefix };

struct FamilyRule {
  const char* text;
  Match match;
  char modelCode;
};

// Order matters: a name holding two of these texts gets the earlier row.
constexpr std::array<FamilyRule, 11> kFamilies = {{
    {"MIDI Mix", Match::Anywhere, 'B'},
    {"nanoKONTROL2", Match::Anywhere, 'D'},
    {"iCON iControls_Pro", Match::Prefix, 'E'},
    {"X-TOUCH MINI", Match::Anywhere, 'F'},
    {"X-TOUCH COMPACT", Match::Anywhere, 'K'},
    {"BCF2000", Match::Anywhere, 'G'},
    {"BCR2000", Match::Anywhere, 'H'},
    {"Midi Fighter Twister", Match::Anywhere, 'I'},
    {"Launchpad Mini", Match::Anywhere, 'J'},
    {"Platform-M", Match::Anywhere, 'M'},
    {"Platform M", Match::Anywhere, 'M'},
}};

bool Matches(const std::string& name, const FamilyRule& rule) {
  const std::string::size_type at = name.find(rule.text);
  return rule.match == Match::Prefix ? at == 0 : at != std::string::npos;
}

} // namespace

PortClassification ClassifyPortName(const std::string& name) {
  for (const FamilyRule& rule : kFamilies) {
    if (Matches(name, rule)) return {rule.modelCode, true};
  }
  return {kUnknownPortCode, false};
}
