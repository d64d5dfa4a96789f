// The operator's tool for the simulated encoders, run as a child process, and
// the driver library seeing what the tool laid down.
#include <gtest/gtest.h>

#include "platform/lycomm/LyComm.h"
#include "tests/cardlib/PendrixFixture.h"
#include "tests/cardlib/SimulatorFixture.h"

namespace ostra::cardlib {
namespace {

using testing::BinDir;
using testing::Quoted;
using testing::Shell;

class EncoderTool : public ::testing::Test {
  protected:
    std::string Tool(const std::string& args, int* status = nullptr) {
        return Shell(Quoted(BinDir() + "/lycomm-card") + " " + args + " 2>&1", status);
    }
    testing::SimulatorFolder sim;
};

TEST_F(EncoderTool, LayShowAndTakeACard) {
    int status = -1;
    Tool("show COM1", &status);
    EXPECT_NE(status, 0);
    Tool("lay COM1", &status);
    EXPECT_NE(status, 0);  // no encoder attached yet

    Tool("attach COM1", &status);
    ASSERT_EQ(status, 0);
    Tool("lay 1", &status);
    ASSERT_EQ(status, 0);
    std::string blank = "FF";
    for (int i = 1; i < 28; ++i) blank += " FF";
    EXPECT_EQ(Tool("show COM1", &status), blank + "\n");
    EXPECT_EQ(status, 0);

    // The driver reads the card the tool laid, with the right password only.
    ASSERT_EQ(createCard(1), 1);
    lycomm::Block b{};
    EXPECT_EQ(
        readPass(0x5C, 0x19, 0xE7, 0xD3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7],
                 &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15], &b[16], &b[17],
                 &b[18], &b[19], &b[20], &b[21], &b[22], &b[23], &b[24], &b[25], &b[26], &b[27]),
        1);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(writePass(0x5C, 0x19, 0xE7, 0xD3, 0x1B, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14,
                        15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27),
              1);
    EXPECT_EQ(writePass(1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0, 0, 0, 0, 0, 0, 0),
              lycomm::kBadPassword);
    destroyCard();
    EXPECT_EQ(Tool("show COM1").substr(0, 14), "1B 01 02 03 04");

    Tool("take COM1", &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(createCard(1), 1);
    EXPECT_EQ(
        readPass(0x5C, 0x19, 0xE7, 0xD3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7],
                 &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15], &b[16], &b[17],
                 &b[18], &b[19], &b[20], &b[21], &b[22], &b[23], &b[24], &b[25], &b[26], &b[27]),
        lycomm::kNoCard);
    destroyCard();

    Tool("detach COM1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(createCard(1), 0);
}

TEST_F(EncoderTool, BadArgumentsAreRefused) {
    int status = 0;
    for (const char* args : {"", "attach", "attach COM0", "attach COM256",
                             "attach 1 --open-result 300", "lay 1 --password 12", "frobnicate 1"}) {
        Tool(args, &status);
        EXPECT_NE(status, 0) << args;
    }
}

}  // namespace
}  // namespace ostra::cardlib
