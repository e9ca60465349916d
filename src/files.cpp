#include "files.h"

#include <cstdint>

namespace app {

namespace {
#ifdef _WIN32
constexpr char pathSeparator = '\\';
#else
constexpr char pathSeparator = '/';
#endif
}  // namespace

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && (folder.back() == '/' || folder.back() == pathSeparator))
        return folder + name;
    return folder + pathSeparator + name;
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        uint32_t cp;
        size_t extra;
        if (lead < 0x80) { cp = lead; extra = 0; }
        else if ((lead & 0xE0) == 0xC0) { cp = lead & 0x1Fu; extra = 1; }
        else if ((lead & 0xF0) == 0xE0) { cp = lead & 0x0Fu; extra = 2; }
        else if ((lead & 0xF8) == 0xF0) { cp = lead & 0x07u; extra = 3; }
        else { out.push_back(u'\xFFFD'); ++i; continue; }
        bool valid = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) { valid = false; break; }
            uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) { valid = false; break; }
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (!valid) { out.push_back(u'\xFFFD'); ++i; continue; }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        bool high = cp >= 0xD800 && cp < 0xDC00;
        bool low = cp >= 0xDC00 && cp < 0xE000;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (high || low) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
#ifdef _WIN32
    std::u16string wide = utf8ToUtf16(utf8Path);
    std::u16string wideMode = utf8ToUtf16(mode);
    return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()),
                   reinterpret_cast<const wchar_t*>(wideMode.c_str()));
#else
    std::string narrowMode;
    for (const char* c = mode; *c; ++c)
        if (*c != 't') narrowMode.push_back(*c);  // text mode is the default here
    return std::fopen(utf8Path.c_str(), narrowMode.c_str());
#endif
}

}  // namespace app
