// The card library's settings file "Setting.ini", section "Setting":
//   SQLServer  the card database's server address (default "127.0.0.1";
//              ";PORT=n" may follow for a server on another port)
//   SiteCode   the hotel's site code; its first 5 characters, single-byte
//              ones, go on every card issued (default "00000")
//
// Read afresh on every card write; nothing is cached. A missing file gives
// the defaults quietly. A file that exists but cannot be read gives them too,
// and the library says so on standard error, with the file and the system's
// reason, once until a read no longer fails.
//
// Threads: the library's one IniCardSettings is read on every thread that
// writes a card (the service's connection threads, its auto-read thread),
// several at once. Its folder is fixed at construction; what changes is
// whether the unreadable file has been said, an atomic flag (set by the read
// that says it, cleared by one that does not fail), so no lock guards it.
#pragma once

#include <atomic>
#include <string>

namespace ostra::cardlib {

inline constexpr const char* kSettingFileName = "Setting.ini";
inline constexpr const char* kSettingSection = "Setting";
inline constexpr const char* kServerKey = "SQLServer";
inline constexpr const char* kServerDefault = "127.0.0.1";
inline constexpr const char* kSiteCodeKey = "SiteCode";
inline constexpr const char* kSiteCodeDefault = "00000";
// The longest value taken from the file, as the settings buffer holds it.
inline constexpr size_t kMaxSettingLength = 255;

struct CardSettings {
    std::string SqlServer;
    std::string SiteCode;
};

class CardSettingsSource {
  public:
    virtual ~CardSettingsSource() = default;
    virtual CardSettings Read() = 0;
};

// Reads "<folder>/Setting.ini".
class IniCardSettings final : public CardSettingsSource {
  public:
    explicit IniCardSettings(std::string folder) : folder_(std::move(folder)) {}
    CardSettings Read() override;

  private:
    std::string folder_;
    std::atomic<bool> unreadSaid_{false};  // the file's read failure is on stderr
};

// The folder of the loaded file (library or program) that holds `address`.
std::string FolderOfModule(const void* address);

}  // namespace ostra::cardlib
