#include "midi/model_code.h"

#include <array>

namespace {

enum class Match { Anywhere, Prefix };

struct FamilyRule {
  const char* text;
  Match match;
  char modelCode;
  const char* familyName; // as support staff know the family
};

// Order matters: a name holding two of these texts gets the earlier row.
constexpr std::array<FamilyRule, 11> kFamilies = {{
    {"MIDI Mix", Match::Anywhere, 'B', "MIDI Mix"},
    {"nanoKONTROL2", Match::Anywhere, kNanoKontrolCode, "nanoKONTROL2"},
    {"iCON iControls_Pro", Match::Prefix, 'E', "iCON iControls Pro"},
    {"X-TOUCH MINI", Match::Anywhere, kXTouchMiniCode, "X-TOUCH MINI"},
    {"X-TOUCH COMPACT", Match::Anywhere, 'K', "X-TOUCH COMPACT"},
    {"BCF2000", Match::Anywhere, kBCF2000Code, "BCF2000"},
    {"BCR2000", Match::Anywhere, kBCR2000Code, "BCR2000"},
    {"Midi Fighter Twister", Match::Anywhere, kTwisterCode, "Midi Fighter Twister"},
    {"Launchpad Mini", Match::Anywhere, 'J', "Launchpad Mini"},
    {"Platform-M", Match::Anywhere, 'M', "Platform-M"},
    {"Platform M", Match::Anywhere, 'M', "Platform-M"},
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

const char* FamilyName(char modelCode) {
  for (const FamilyRule& rule : kFamilies) {
    if (rule.modelCode == modelCode) return rule.familyName;
  }
  return nullptr;
}
