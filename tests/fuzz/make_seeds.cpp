// Writes the fuzzer's seed images into the folder given: small valid PE32
// files with code, exports, imports and TLS, from the tests' image builder.
#include <cstdio>
#include <string>

#include "peImage.h"

using namespace peimage;

namespace {

PeImage codeOnly() {
    PeImage image;
    image.addSection(0x1000, 0x1000, {0x55, 0x89, 0xE5, 0x5D, 0xC3}, codeSection).name = ".text";
    return image;
}

PeImage withExports() {
    PeImage image = codeOnly();
    std::vector<uint8_t> directory =
        exportDirectory(0x2000, {.base = 1,
                                 .functionRvas = {0x1000, 0, 0x1004},
                                 .names = {{"Start", 0}, {"Stop", 2}}});
    image.directories[exportEntry] = {0x2000, uint32_t(directory.size())};
    image.addSection(0x2000, 0x1000, directory).name = ".edata";
    return image;
}

PeImage withImports() {
    PeImage image = codeOnly();
    ImportLayout layout = importDirectory(
        0x2000, {{"KERNEL32.dll", {"GetModuleHandleA", "#12", "ExitProcess"}},
                 {"USER32.dll", {"MessageBoxA"}}});
    image.directories[importEntry] = {0x2000, layout.descriptorsSize};
    image.addSection(0x2000, 0x1000, layout.bytes).name = ".idata";
    return image;
}

PeImage withTls() {
    PeImage image = codeOnly();
    image.directories[tlsEntry] = {0x2000, 24};
    image.addSection(0x2000, 0x1000,
                     tlsDirectory({.startAddress = 0x403000, .endAddress = 0x403010,
                                   .indexAddress = 0x403020, .zeroFillSize = 0x10}))
        .name = ".tls";
    return image;
}

PeImage everything() {
    PeImage image = withExports();
    ImportLayout layout = importDirectory(0x3000, {{"WINMM.dll", {"timeGetTime"}}});
    image.directories[importEntry] = {0x3000, layout.descriptorsSize};
    image.addSection(0x3000, 0x1000, layout.bytes).name = ".idata";
    image.directories[tlsEntry] = {0x4000, 24};
    image.addSection(0x4000, 0x1000,
                     tlsDirectory({.startAddress = 0x405000, .endAddress = 0x405004}))
        .name = ".tls";
    image.addSection(0x5000, 0x2000, {0xC3}, codeSection).name = ".text2";
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::pair<const char*, PeImage> seeds[] = {
        {"code.exe", codeOnly()}, {"exports.exe", withExports()}, {"imports.exe", withImports()},
        {"tls.exe", withTls()},   {"all.exe", everything()},
    };
    for (const auto& [name, image] : seeds) {
        std::string path = std::string(argv[1]) + "/" + name;
        std::vector<uint8_t> bytes = image.build();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return 0;
}
