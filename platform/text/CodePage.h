// The one conversion point between the text the program works with (UTF-8
// in every std::string) and the bytes of its text files and of the wire.
//
// Text files (logs, INI files) are written in the system's code page: the
// character set of the locale the process was started in (LC_ALL, LC_CTYPE,
// LANG). A UTF-8 locale, and the plain C/POSIX locale, mean UTF-8, so no
// conversion happens; a GBK/GB18030 locale gets that encoding through iconv.
// The wire always carries UTF-8.
//
// Threads: every function may be called from any thread at once. The code
// page is looked up once, on first use; SetSystemCodePageForTesting must be
// called before any other thread uses this layer.
#pragma once

#include <string>
#include <string_view>

namespace ostra {

// True when Bytes is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view Bytes);

// Decodes bytes received as UTF-8 into text, loosely, so that a request in
// another encoding still reaches its handler: each byte that does not start a well-formed UTF-8
// sequence becomes U+FFFD and decoding goes on at the next byte. Well-formed
// bytes come back unchanged; a byte-order mark is kept as it stands.
std::string DecodeUtf8(std::string_view Bytes);

// Name of the system code page as iconv knows it, e.g. "UTF-8" or "GB18030".
std::string SystemCodePage();

// True when the system code page is UTF-8 (and the two functions below copy).
bool SystemCodePageIsUtf8();

// Text (UTF-8) to bytes in the system code page. A character that the code
// page cannot hold becomes "?"; malformed input bytes become "?" as well.
std::string ToSystemCodePage(std::string_view Text);

// Bytes in the system code page to text (UTF-8). Bytes that do not decode
// become U+FFFD.
std::string FromSystemCodePage(std::string_view Bytes);

// Bytes in the character set CodeSet (an iconv name, or the name that
// nl_langinfo gives, e.g. "GB18030", "ANSI_X3.4-1968") to text (UTF-8).
// UTF-8 and ASCII are copied; bytes that do not decode become U+FFFD; an
// unknown character set copies the bytes as they stand.
std::string CodeSetToUtf8(std::string_view Bytes, const std::string& CodeSet);

// UTF-16LE bytes (an even number, no byte-order mark) to text (UTF-8); a
// surrogate without its partner becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view Bytes);

// Text (UTF-8) to UTF-16LE bytes without a byte-order mark; malformed input
// bytes become U+FFFD.
std::string Utf8ToUtf16Le(std::string_view Text);

// Tests only: use this code page (an iconv name; "" goes back to the
// locale's). Call before other threads use the layer.
void SetSystemCodePageForTesting(const std::string& CodePage);

}  // namespace ostra
