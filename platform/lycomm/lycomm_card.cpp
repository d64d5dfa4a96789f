// lycomm-card: the operator's hand on the simulated card encoders.
//
//   lycomm-card attach PORT [--open-result N] [--write-result N]
//                                               attach an encoder to PORT; the
//                                               options make it answer N to
//                                               every open / write (a fault)
//   lycomm-card detach PORT                     take the encoder away
//   lycomm-card lay PORT [--password HEX8]      lay a blank card on the encoder
//   lycomm-card take PORT                       take the card away
//   lycomm-card show PORT                       print the 28 bytes of the card
//
// PORT is COM1 to COM255 or the driver's port number (1 for COM1).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/lycomm/SimEncoder.h"

namespace {
using namespace ostra::lycomm;

int Usage() {
    std::fputs(
        "usage: lycomm-card attach PORT [--open-result N] [--write-result N]\n"
        "       lycomm-card detach PORT\n"
        "       lycomm-card lay PORT [--password HEX8]\n"
        "       lycomm-card take PORT\n"
        "       lycomm-card show PORT\n"
        "PORT: COM1..COM255 or 1..255. State folder: $LYCOMM_STATE_DIR\n",
        stderr);
    return 2;
}

std::optional<int> ParseNumber(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return std::nullopt;
    return v;
}

std::optional<int> ParsePort(std::string text) {
    if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0))
        text = text.substr(3);
    return ParseNumber(text, 1, 255);
}

std::optional<Password> ParsePassword(const std::string& text) {
    if (text.size() != 8) return std::nullopt;
    Password p{};
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        std::string pair = text.substr(2 * i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1])))
            return std::nullopt;
        p[i] = static_cast<uint8_t>(std::strtoul(pair.c_str(), &end, 16));
    }
    return p;
}

int Report(const std::string& error) {
    if (error.empty()) return 0;
    std::fprintf(stderr, "lycomm-card: %s\n", error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string command = argv[1];
    std::optional<int> port = ParsePort(argv[2]);
    if (!port) return Usage();

    if (command == "attach") {
        std::optional<int> openResult, writeResult;
        for (int i = 3; i < argc; i += 2) {
            if (i + 1 >= argc) return Usage();
            std::optional<int> value = ParseNumber(argv[i + 1], 0, 255);
            if (!value) return Usage();
            if (std::strcmp(argv[i], "--open-result") == 0)
                openResult = value;
            else if (std::strcmp(argv[i], "--write-result") == 0)
                writeResult = value;
            else
                return Usage();
        }
        return Report(Attach(*port, openResult, writeResult));
    }
    if (command == "detach" && argc == 3) return Report(Detach(*port));
    if (command == "lay") {
        Password password = kFactoryPassword;
        if (argc == 5 && std::strcmp(argv[3], "--password") == 0) {
            std::optional<Password> p = ParsePassword(argv[4]);
            if (!p) return Usage();
            password = *p;
        } else if (argc != 3) {
            return Usage();
        }
        return Report(LayBlankCard(*port, password));
    }
    if (command == "take" && argc == 3) return Report(TakeCard(*port));
    if (command == "show" && argc == 3) {
        auto card = PeekCard(*port);
        if (!card) {
            std::printf("no card on port %d\n", *port);
            return 1;
        }
        for (int i = 0; i < kBlockSize; ++i) std::printf(i ? " %02X" : "%02X", card->second[i]);
        std::printf("\n");
        return 0;
    }
    return Usage();
}
