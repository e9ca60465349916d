// Host files by UTF-8 name: path joining, opening, and the UTF-8/UTF-16
// conversions that Windows names and texts need.
#pragma once

#include <cstdio>
#include <string>

namespace app {

// Joins a folder and a name with the host's path separator.
std::string joinPath(const std::string& folder, const std::string& name);

// Opens a file by its UTF-8 path. On Windows the path goes through UTF-16, so
// a folder with non-ASCII characters works. Returns nullptr on failure.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// UTF-8 to UTF-16 (invalid sequences become U+FFFD).
std::u16string utf8ToUtf16(const std::string& text);
// UTF-16 to UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string utf16ToUtf8(const std::u16string& text);

}  // namespace app
