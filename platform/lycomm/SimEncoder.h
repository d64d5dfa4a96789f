// The simulated card encoders behind liblyComm.so and the lycomm-card tool.
//
// Each serial port's encoder is a folder "<state>/port<N>" (N = 1 for COM1);
// an encoder is attached while its folder exists. The card lying on it is
// the file "card" in that folder: 4 password bytes, then the 28 block bytes.
// A file "open-result" in the folder, holding a decimal byte, makes
// createCard answer that byte instead of 1 (a faulty or busy encoder); a file
// "write-result" makes every writePass answer its byte without writing.
//
// The state folder is $LYCOMM_STATE_DIR, else $XDG_STATE_HOME/ostra/lycomm,
// else ~/.local/state/ostra/lycomm. Every call waits $LYCOMM_DELAY_MS
// milliseconds first (default 30, like a real encoder on a serial line).
//
// Threads: every function may be called from any thread at once. Nothing
// here keeps process state; a card file is read under a shared flock and
// written under an exclusive one, so separate processes see whole cards.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ostra::lycomm {

inline constexpr int kBlockSize = 28;
using Block = std::array<uint8_t, kBlockSize>;
using Password = std::array<uint8_t, 4>;

// Results of the simulated reads and writes.
inline constexpr uint8_t kOk = 1;
inline constexpr uint8_t kNoCard = 0;       // port not open, or no card lying there
inline constexpr uint8_t kBadPassword = 2;  // the card refuses the password
inline constexpr uint8_t kIoError = 3;      // the card file could not be read or written

// The password a blank card from the maker carries.
inline constexpr Password kFactoryPassword{0x5C, 0x19, 0xE7, 0xD3};

std::string StateDir();
std::string PortDir(int port);
std::string CardPath(int port);
bool IsAttached(int port);
void SimulateDelay();

// The byte createCard answers for `port`: 0 when nothing is attached.
uint8_t OpenResult(int port);

// Reads/writes the card lying on `port`, checking its password.
uint8_t ReadCard(int port, const Password& password, Block& block);
uint8_t WriteCard(int port, const Password& password, const Block& block);

// Operator actions. Each returns an empty text on success, else the reason.
std::string Attach(int port, std::optional<int> openResult,
                   std::optional<int> writeResult = std::nullopt);
std::string Detach(int port);
std::string LayBlankCard(int port, const Password& password);
std::string TakeCard(int port);
// The password and block of the card lying on `port`, if any.
std::optional<std::pair<Password, Block>> PeekCard(int port);

}  // namespace ostra::lycomm
