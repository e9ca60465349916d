#include "windowsTestSupport.h"

#include <cstdio>

namespace wintest {

namespace {
// Long paths need the \\?\ form in the file functions.
std::wstring extended(const std::string& path) { return L"\\\\?\\" + wide(path); }

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(child);
            else DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}
}  // namespace

TempFolder::TempFolder(const std::string& name) {
    wchar_t base[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, base);
    std::string folder = narrow(std::wstring(base, length));
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    path_ = folder + "\\qz_" + name + "_" + std::to_string(GetCurrentProcessId());
    removeTree(extended(path_));
    createFolders(path_);
}

TempFolder::~TempFolder() { removeTree(extended(path_)); }

bool createFolders(const std::string& path) {
    for (size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
        std::string part = path.substr(0, at);
        CreateDirectoryW(extended(part).c_str(), nullptr);
        if (at == std::string::npos) break;
    }
    DWORD attributes = GetFileAttributesW(extended(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readFile(const std::string& path) {
    std::FILE* file = _wfopen(extended(path).c_str(), L"rb");
    if (!file) return "<missing>";
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return text;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace wintest
