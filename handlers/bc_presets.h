// The two preset images a BCF2000 or BCR2000 can be sent, and how one line
// of preset text travels: one System Exclusive message per line.
//
// The images are built from the rules of the controllers' layout once, on
// first use, and are constant from then on; any thread may read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The preset for a BCF2000 ('G'); any other code gets the BCR2000 preset.
const std::vector<std::string>& BCPresetLines(char modelCode);
// The model byte that addresses the preset's controller: 14 BCF2000, 15 BCR2000.
uint8_t BCPresetModelByte(char modelCode);
// F0 00 20 32 00, model byte, 20 (one line of preset text), the line's index
// as two 7-bit bytes, its characters, F7.
std::vector<uint8_t> FrameBCPresetLine(uint8_t modelByte, uint16_t index, const std::string& text);

// The pause after every line, so the controller can digest it.
constexpr unsigned kBCPresetLinePauseMs = 10;
