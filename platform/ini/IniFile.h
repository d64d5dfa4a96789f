// INI files with the private-profile rules the settings rely on.
//
// - Section and key names match without regard to ASCII letter case.
// - Text values are read trimmed of surrounding blanks (and of one pair of
//   matching surrounding quotes), at most 2047 characters.
// - Integers are written in decimal and read in decimal, as "0x"/"0X"
//   hexadecimal (three or more characters) or "$" hexadecimal, with an
//   optional sign; anything else (or a value outside 32 bits) gives the
//   caller's default.
// - Truth values are written "1"/"0" and read as integers; any value other
//   than 0 is true.
// - Files with CR LF or LF line ends are read; files are written with CR LF
//   (a UTF-16LE file keeps its own line ends, see below).
// - Writing one key rewrites the file with every other section, key, comment
//   and blank line kept as it was. The new content goes to a temporary file
//   beside the original, which then replaces it by rename, so a crash never
//   leaves a half-written file. The new file keeps the old one's mode and,
//   where this process may set them (root), its owner and group; where it
//   may not, at least the group when it may. When the file is a symbolic
//   link, the file it leads to is replaced this way in its own folder and
//   the link stays.
//   A failed write throws EIniWriteError with "Unable to write to <path>";
//   an existing file that cannot be read, or that this user may not write,
//   fails so and is left as it was.
// - The file is text in the system code page (platform/text/CodePage.h),
//   with or without a UTF-8 byte-order mark, which a write keeps.
// - A file that begins with the mark FF FE (a Windows editor's "Unicode") is
//   UTF-16LE. Its names and values are found as in any other file, and pass
//   through the system code page on the way in and out as the Windows ANSI
//   profile calls do, so a value reads as it would from a file in that code
//   page. A write keeps the file UTF-16LE with its mark, and every line it
//   does not change byte for byte with its own line end; a line it changes
//   or adds ends like the file's first line (CR LF in a file without one).
//
// Each call opens, reads or writes, and closes the file by itself; nothing is
// cached, so a later read sees an earlier write at once.
//
// Threads: reads (ReadFailure too) may run from any thread. Writes are
// serialised inside the process by one lock shared by all IniFile objects,
// so two threads writing keys of the same file never lose each other's
// change.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace ostra {

class EIniWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IniFile {
  public:
    // Longest text value returned by ReadString.
    static constexpr std::size_t MaxValueLength = 2047;

    explicit IniFile(std::string FileName);

    const std::string& FileName() const { return FileName_; }

    // The stored value, or Default when the file, section or key is missing.
    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
    bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;

    // The system's reason (strerror text) when the file exists but cannot be read; empty when it
    // was read or does not exist.
    std::string ReadFailure() const;

    // Writes one key (adding the section and key when missing).
    // Throws EIniWriteError("Unable to write to <path>").
    void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
    void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
    void WriteBool(const std::string& Section, const std::string& Key, bool Value);

    // The integer form of a text: decimal, "0x"/"0X" hexadecimal (three or
    // more characters), "$" hexadecimal, optional sign; nothing when the
    // text is not such a number or does not fit 32 bits.
    static std::optional<int32_t> ParseInteger(const std::string& Text);

  private:
    // The raw (trimmed, unquoted) value when section and key exist.
    std::optional<std::string> Lookup(const std::string& Section, const std::string& Key) const;

    std::string FileName_;
};

}  // namespace ostra
