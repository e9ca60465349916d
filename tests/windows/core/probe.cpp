// Writes what the start-up functions see to the file named by QZ_PROBE_OUT:
// each element of getArgs on its own line, then "dir=" and getExecutableDir.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log.h"
#include "app/main.h"

int main() {
    const wchar_t* out = _wgetenv(L"QZ_PROBE_OUT");
    if (!out) return 2;
    std::FILE* file = _wfopen(out, L"wb");
    if (!file) return 3;
    std::string text;
    for (const std::string& arg : app::getArgs()) text += arg + "\n";
    text += "dir=" + app::getExecutableDir() + "\n";
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return 0;
}
