// Identification of a controller family from its port name.
#pragma once

#include <string>

struct PortClassification {
  char modelCode; // 'B', 'D', ... for a known family, 'X' for any other port
  bool supported; // the family is supported by Veltrakon
};

// Tests the port name against the family table, first match wins. The tests
// are case-sensitive; all but "iCON iControls_Pro" (a prefix) match anywhere.
PortClassification ClassifyPortName(const std::string& name);

// The family's name as support staff know it ("iCON iControls Pro",
// "Platform-M"), or nullptr for a code of no family.
const char* FamilyName(char modelCode);

// The code of a port whose capabilities could not be read.
constexpr char kUnreadablePortCode = 'Z';
constexpr char kUnknownPortCode = 'X';
// The families the tool has a dialogue with.
constexpr char kNanoKontrolCode = 'D';
constexpr char kXTouchMiniCode = 'F';
constexpr char kBCF2000Code = 'G';
constexpr char kBCR2000Code = 'H';
constexpr char kTwisterCode = 'I';
