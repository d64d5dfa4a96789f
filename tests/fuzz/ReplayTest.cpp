// Replays every kept fuzz input (the seed corpora and the crash inputs kept
// as regressions) through the fuzz entry functions, so the normal build
// catches a regression without clang or libFuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzEntries.h"

namespace ostra::fuzz {
namespace {

namespace fs = std::filesystem;

struct Target {
    const char* Name;  // folder under corpus/ and regressions/
    void (*Entry)(const uint8_t*, size_t);
};

const Target kTargets[] = {
    {"request_handler", RequestHandler}, {"plugin_request", PluginRequest},
    {"framing", Framing},
    {"ini", IniReader},                  {"card_block", CardBlockDecoder},
    {"variant", VariantCoercion},
};

std::vector<fs::path> InputsOf(const std::string& Name) {
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(OSTRA_FUZZ_DIR) / kind / Name;
        if (!fs::is_directory(dir)) continue;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzReplay : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, EveryKeptInputHoldsItsPromises) {
    const Target& t = GetParam();
    const std::vector<fs::path> files = InputsOf(t.Name);
    EXPECT_FALSE(files.empty()) << "no seed inputs for " << t.Name;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        try {
            t.Entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const std::exception& e) {
            ADD_FAILURE() << file.string() << ": " << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace ostra::fuzz
