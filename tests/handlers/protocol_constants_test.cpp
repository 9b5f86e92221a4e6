// The handlers' constant messages, byte for byte, against the protocol
// tables written out apart from them (midi/port/simulated/protocol_tables.h):
// a wrong byte in either shows here, and in every dialogue the virtual
// controllers hold with the handlers.
#include <gtest/gtest.h>

#include <vector>

#include "handlers/bcf2000.h"
#include "handlers/nano_kontrol.h"
#include "handlers/xtouch_mini.h"
#include "midi/port/simulated/protocol_tables.h"

namespace {

TEST(ProtocolConstants, EveryMessageTheToolSendsIsTheOneItsTableGives) {
  EXPECT_EQ(std::vector<uint8_t>(kNanoSceneImage.begin(), kNanoSceneImage.end()),
            std::vector<uint8_t>(port::sim::protocol::kNanoKontrolScene.begin(),
                                 port::sim::protocol::kNanoKontrolScene.end()));
  EXPECT_EQ(std::vector<uint8_t>(kNanoDumpRequest.begin(), kNanoDumpRequest.end()),
            std::vector<uint8_t>(port::sim::protocol::kNanoKontrolDumpRequest.begin(),
                                 port::sim::protocol::kNanoKontrolDumpRequest.end()));
  EXPECT_EQ(std::vector<uint8_t>(kNanoWriteRequest.begin(), kNanoWriteRequest.end()),
            std::vector<uint8_t>(port::sim::protocol::kNanoKontrolWriteRequest.begin(),
                                 port::sim::protocol::kNanoKontrolWriteRequest.end()));
  EXPECT_EQ(kNanoUploadDone, port::sim::protocol::kNanoKontrolUploadAccepted);
  EXPECT_EQ(kNanoWriteDone, port::sim::protocol::kNanoKontrolWritten);
  EXPECT_EQ(std::vector<uint8_t>(kXTouchMiniReset.begin(), kXTouchMiniReset.end()),
            std::vector<uint8_t>(port::sim::protocol::kXTouchResetStream.begin(),
                                 port::sim::protocol::kXTouchResetStream.end()));
  EXPECT_EQ(
      std::vector<uint8_t>(kBCIdentityRequest.begin(), kBCIdentityRequest.end()),
      std::vector<uint8_t>(port::sim::protocol::kBCIdentityQuery.begin(), port::sim::protocol::kBCIdentityQuery.end()));
}

} // namespace
