// A guest card on a simulated encoder: card number N, room 0101 of the
// test site, valid until 2030. For the programs that link the card library
// and the encoder simulator.
#pragma once

#include <algorithm>
#include <cstdint>

#include "cardlib/CardBlock.h"
#include "platform/lycomm/SimEncoder.h"

namespace ostra::testsupport {

inline lycomm::Block GuestBlock(int32_t N) {
    const cardlib::CardBlock Block = cardlib::BuildIssuedBlock(
        {"12345", cardlib::CardNumberHex(N), "203001011200", "0101", 1, 1});
    lycomm::Block Raw{};
    std::copy(Block.begin(), Block.end(), Raw.begin());
    return Raw;
}

// Takes what lies on the encoder of driver port Port and lays the guest
// card there; false when the simulator refused.
inline bool LayGuestCard(int Port, int32_t N) {
    lycomm::TakeCard(Port);
    return lycomm::LayBlankCard(Port, lycomm::kFactoryPassword).empty() &&
           lycomm::WriteCard(Port, lycomm::kFactoryPassword, GuestBlock(N)) == lycomm::kOk;
}

}  // namespace ostra::testsupport
