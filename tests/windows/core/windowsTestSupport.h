// Helpers of the Windows tests: a private temporary folder and whole-file
// reads by UTF-8 path.
#pragma once

#include <windows.h>

#include <string>

#include "files.h"

namespace wintest {

inline std::wstring wide(const std::string& utf8) {
    std::u16string text = app::utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

inline std::string narrow(const std::wstring& text) {
    return app::utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

// A new, empty folder below the temporary folder (UTF-8, no trailing
// separator), removed with everything in it by the destructor.
class TempFolder {
public:
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Creates every missing folder of a path of any length.
bool createFolders(const std::string& path);
// The whole file, or "<missing>" when it cannot be opened.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

}  // namespace wintest
