// Private folders and the folders of this build, for tests that run in
// parallel: every test makes its own folder and removes it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace ostra::testsupport {

namespace fs = std::filesystem;

// The value of the environment variable Name, or Default when it is unset or empty.
std::string EnvOr(const char* Name, const std::string& Default);
// The folder of the built programs and libraries: OSTRA_BIN_DIR, else the
// folder of this program (the tests are built there too).
std::string BinDir();
// The source tree: OSTRA_SOURCE_DIR, else the tree this was built from.
std::string SourceDir();
// The folder of the locales made for the tests at build time (sv_SE.UTF-8,
// zh_CN.GB18030): OSTRA_LOCALE_DIR, else "locales" beside the build's
// programs. A process finds them with LOCPATH set to it; no test relies on
// the locales the system happens to have.
std::string TestLocaleDir();

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TTempDir {
  public:
    explicit TTempDir(const std::string& Prefix = "ostra-test");
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const fs::path& Path() const { return Path_; }
    // With a trailing "/".
    std::string Dir() const { return Path_.string() + "/"; }
    std::string File(const std::string& Name) const { return (Path_ / Name).string(); }
    std::string operator/(const std::string& Name) const { return File(Name); }

  private:
    fs::path Path_;
};

// The whole file as bytes (empty when it cannot be read).
std::string ReadFile(const fs::path& Path);
// Replaces the file with Bytes.
void WriteFile(const fs::path& Path, const std::string& Bytes);

}  // namespace ostra::testsupport
