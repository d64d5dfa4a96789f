// A private folder of simulated encoders for one test, without delays.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/lycomm/SimEncoder.h"
#include "tests/support/Folders.h"

namespace ostra::cardlib::testing {

class SimulatorFolder {
  public:
    SimulatorFolder() {
        setenv("LYCOMM_STATE_DIR", dir_.Path().c_str(), 1);
        setenv("LYCOMM_DELAY_MS", "0", 1);
    }

    std::string Path() const { return dir_.Path().string(); }

    // An encoder on driver port `port` with a blank card on it.
    static void EncoderWithBlankCard(int port) {
        ASSERT_EQ(lycomm::Attach(port, std::nullopt), "");
        ASSERT_EQ(lycomm::LayBlankCard(port, lycomm::kFactoryPassword), "");
    }
    static lycomm::Block CardOn(int port) {
        auto card = lycomm::PeekCard(port);
        EXPECT_TRUE(card.has_value());
        return card ? card->second : lycomm::Block{};
    }
    static void PutBlock(int port, const lycomm::Block& block) {
        ASSERT_EQ(lycomm::WriteCard(port, lycomm::kFactoryPassword, block), lycomm::kOk);
    }

  private:
    testsupport::TTempDir dir_{"ostra-cardlib"};
};

}  // namespace ostra::cardlib::testing
