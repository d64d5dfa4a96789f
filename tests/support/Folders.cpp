#include "tests/support/Folders.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ostra::testsupport {

std::string EnvOr(const char* Name, const std::string& Default) {
    const char* Value = std::getenv(Name);
    return Value && *Value ? Value : Default;
}

std::string BinDir() {
    std::error_code Ec;
    const fs::path Self = fs::read_symlink("/proc/self/exe", Ec);
    return EnvOr("OSTRA_BIN_DIR", Ec ? "." : Self.parent_path().string());
}

std::string SourceDir() {
    return EnvOr("OSTRA_SOURCE_DIR", OSTRA_TEST_SOURCE_DIR);
}

std::string TestLocaleDir() {
    return EnvOr("OSTRA_LOCALE_DIR", (fs::path(BinDir()) / "../locales").string());
}

TTempDir::TTempDir(const std::string& Prefix) {
    std::string Pattern = (fs::temp_directory_path() / (Prefix + "-XXXXXX")).string();
    if (!::mkdtemp(Pattern.data())) throw std::runtime_error("no temporary folder: " + Pattern);
    Path_ = Pattern;
}

TTempDir::~TTempDir() {
    std::error_code Ignored;
    fs::remove_all(Path_, Ignored);
}

std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

void WriteFile(const fs::path& Path, const std::string& Bytes) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

}  // namespace ostra::testsupport
