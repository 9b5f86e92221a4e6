// The BCF2000 / BCR2000 identity exchange as it stands on the wire, and how
// a reply is read: the handler (bcf2000.h) talks it, the report reader
// (tools/report_reader) reads a report of it, both by these definitions.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "midi/model_code.h"

// Every message of the exchange begins F0 and Behringer's manufacturer ID
// 00 20 32.
constexpr std::array<uint8_t, 4> kBehringerHeader = {0xF0, 0x00, 0x20, 0x32};

// F0, manufacturer 00 20 32, device 00, model 7F (either model), command 01
// (identity request), F7.
constexpr std::array<uint8_t, 8> kBCIdentityRequest = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x7F, 0x01, 0xF7};
static_assert(kBCIdentityRequest.front() == 0xF0 && kBCIdentityRequest.back() == 0xF7, "one SysEx message");
static_assert(kBCIdentityRequest[1] == kBehringerHeader[1] && kBCIdentityRequest[2] == kBehringerHeader[2] &&
                  kBCIdentityRequest[3] == kBehringerHeader[3],
              "the request is Behringer's");

// Why a BCF2000/BCR2000 may not answer at all: the request goes to device
// 00, which is device ID 1 on the unit, and a unit set to another ID stays
// silent (the B-Control SysEx documentation that the units' editors
// follow).
inline constexpr const char* kBCSilenceLikelyCause =
    "such a unit answers this request only when its device ID is 1, the number the request is addressed to; a unit "
    "set to another ID stays silent (see the B-Control SysEx documentation that editors of these units follow)";
static_assert(kBCIdentityRequest[4] == 0x00, "the request goes to device ID 1");

// The first seven bytes of an identity reply: model byte 14 is a BCF2000,
// 15 a BCR2000; command 02 is the reply.
constexpr std::array<uint8_t, 7> kBCF2000ReplyHeader = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x02};
constexpr std::array<uint8_t, 7> kBCR2000ReplyHeader = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x15, 0x02};

// A message shorter than this is no identity reply and is not examined.
constexpr size_t kBCShortestReply = 8; // header and end byte, no text
// A reply shorter than this carries no name ("Bad response, no device name.").
constexpr size_t kBCShortestNamedReply = 11; // at least three bytes of text
// Where the identity text starts; it ends before the final byte.
constexpr size_t kBCIdentityTextOffset = 7;

// The model code an identity reply claims ('G' BCF2000, 'H' BCR2000), or 0
// for a message that is no accepted reply: too short, or another header
// (another device number, model or command).
inline char BCIdentityReplyModel(const uint8_t* bytes, size_t length) {
  if (length < kBCShortestReply) return 0;
  if (std::equal(kBCF2000ReplyHeader.begin(), kBCF2000ReplyHeader.end(), bytes)) return kBCF2000Code;
  if (std::equal(kBCR2000ReplyHeader.begin(), kBCR2000ReplyHeader.end(), bytes)) return kBCR2000Code;
  return 0;
}
