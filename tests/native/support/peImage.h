// A small PE32 (i386) image builder for tests.
//
// PeImage describes the headers field by field (each one settable, also to
// values a sound linker never writes) and the sections with their raw bytes;
// build() lays it all out as a file image. exportDirectory, importDirectory
// and tlsDirectory produce directory bytes laid out for a given RVA, to be
// placed in a section's raw bytes at that RVA.
//
// Self-contained and header-only: no test framework, no project header.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace peimage {

// ---- Byte writing (the vector grows as needed) ----------------------------

inline void putBytes(std::vector<uint8_t>& bytes, size_t offset, const void* data, size_t size) {
    if (bytes.size() < offset + size) bytes.resize(offset + size);
    std::copy_n(static_cast<const uint8_t*>(data), size, bytes.begin() + offset);
}

inline void put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    uint8_t le[2] = {uint8_t(value), uint8_t(value >> 8)};
    putBytes(bytes, offset, le, 2);
}

inline void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    uint8_t le[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                     uint8_t(value >> 24)};
    putBytes(bytes, offset, le, 4);
}

// The text and its terminating zero byte.
inline void putString(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
    putBytes(bytes, offset, text.c_str(), text.size() + 1);
}

inline uint32_t alignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// ---- Headers and sections --------------------------------------------------

constexpr uint32_t codeSection = 0x60000020;  // code, execute, read
constexpr uint32_t dataSection = 0xC0000040;  // initialised data, read, write
constexpr size_t exportEntry = 0;
constexpr size_t importEntry = 1;
constexpr size_t tlsEntry = 9;
constexpr uint32_t fileAlignment = 0x200;

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct SectionLayout {
    uint32_t virtualAddress = 0x1000;
    uint32_t virtualSize = 0x1000;
    std::vector<uint8_t> raw;
    uint32_t characteristics = dataSection;
    // Header values that differ from the bytes actually placed. The raw bytes
    // are always written at PeImage::rawOffset; these only change the header.
    std::optional<uint32_t> sizeOfRawData;     // default raw.size()
    std::optional<uint32_t> pointerToRawData;  // default rawOffset
    std::string name = ".data";
};

struct PeImage {
    bool dosSignature = true;  // "MZ" at offset 0
    uint32_t peOffset = 0x80;  // e_lfanew
    uint16_t machine = 0x14C;
    std::optional<uint16_t> numberOfSections;  // default sections.size()
    uint32_t numberOfRvaAndSizes = 16;
    std::optional<uint16_t> sizeOfOptionalHeader;  // default 0x60 + 8 * min(n, 16)
    uint32_t imageBase = 0x400000;
    uint32_t entryPoint = 0x1000;
    uint32_t stackReserve = 0x100000;
    uint16_t majorSubsystemVersion = 4;
    uint16_t minorSubsystemVersion = 0;
    // Written for every entry that lies inside the optional header, whatever n.
    std::array<DataDirectory, 16> directories{};
    std::vector<SectionLayout> sections;

    SectionLayout& addSection(uint32_t virtualAddress, uint32_t virtualSize,
                            std::vector<uint8_t> raw, uint32_t characteristics = dataSection) {
        SectionLayout section;
        section.virtualAddress = virtualAddress;
        section.virtualSize = virtualSize;
        section.raw = std::move(raw);
        section.characteristics = characteristics;
        sections.push_back(std::move(section));
        return sections.back();
    }

    uint16_t optionalHeaderSize() const {
        if (sizeOfOptionalHeader) return *sizeOfOptionalHeader;
        return uint16_t(0x60 + 8 * std::min<uint32_t>(numberOfRvaAndSizes, 16));
    }
    uint32_t optionalHeaderOffset() const { return peOffset + 24; }
    uint32_t sectionTableOffset() const { return optionalHeaderOffset() + optionalHeaderSize(); }

    // File offset where build() places the raw bytes of section i.
    uint32_t rawOffset(size_t index) const {
        uint32_t offset = alignUp(sectionTableOffset() + 40 * uint32_t(sections.size()),
                                  fileAlignment);
        for (size_t i = 0; i < index; ++i)
            offset += alignUp(uint32_t(sections[i].raw.size()), fileAlignment);
        return offset;
    }

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> file(0x40);
        if (dosSignature) putBytes(file, 0, "MZ", 2);
        put32(file, 0x3C, peOffset);

        putBytes(file, peOffset, "PE\0\0", 4);
        put16(file, peOffset + 4, machine);
        put16(file, peOffset + 6, numberOfSections.value_or(uint16_t(sections.size())));
        put16(file, peOffset + 20, optionalHeaderSize());
        put16(file, peOffset + 22, 0x010F);  // executable, 32-bit, stripped

        const uint32_t opt = optionalHeaderOffset();
        put16(file, opt + 0, 0x10B);  // PE32 magic
        put32(file, opt + 16, entryPoint);
        put32(file, opt + 28, imageBase);
        put32(file, opt + 32, 0x1000);         // SectionAlignment
        put32(file, opt + 36, fileAlignment);  // FileAlignment
        put16(file, opt + 48, majorSubsystemVersion);
        put16(file, opt + 50, minorSubsystemVersion);
        put16(file, opt + 68, 2);  // Subsystem: GUI
        put32(file, opt + 72, stackReserve);
        put32(file, opt + 92, numberOfRvaAndSizes);
        for (uint32_t i = 0; i < directories.size(); ++i) {
            if (0x60 + 8 * (i + 1) > optionalHeaderSize()) break;
            put32(file, opt + 0x60 + 8 * i, directories[i].rva);
            put32(file, opt + 0x64 + 8 * i, directories[i].size);
        }
        file.resize(std::max<size_t>(file.size(), sectionTableOffset()));

        for (size_t i = 0; i < sections.size(); ++i) {
            const SectionLayout& section = sections[i];
            const uint32_t entry = sectionTableOffset() + 40 * uint32_t(i);
            std::string name = section.name.substr(0, 8);
            name.resize(8, '\0');
            putBytes(file, entry, name.data(), 8);
            put32(file, entry + 8, section.virtualSize);
            put32(file, entry + 12, section.virtualAddress);
            put32(file, entry + 16, section.sizeOfRawData.value_or(uint32_t(section.raw.size())));
            put32(file, entry + 20, section.pointerToRawData.value_or(rawOffset(i)));
            put32(file, entry + 36, section.characteristics);
        }
        for (size_t i = 0; i < sections.size(); ++i) {
            const std::vector<uint8_t>& raw = sections[i].raw;
            std::vector<uint8_t> padded(raw);
            padded.resize(alignUp(uint32_t(raw.size()), fileAlignment));
            putBytes(file, rawOffset(i), padded.data(), padded.size());
        }
        return file;
    }
};

// ---- Directories ------------------------------------------------------------

struct ExportLayout {
    int32_t base = 1;
    std::vector<uint32_t> functionRvas = {};
    // Name and its index into functionRvas (the name ordinal as stored).
    std::vector<std::pair<std::string, uint16_t>> names = {};
};

// Fields of the export directory, for tests that overwrite them.
constexpr size_t exportBaseField = 16;
constexpr size_t exportFunctionCountField = 20;
constexpr size_t exportNameCountField = 24;

// An export directory at rva: the 40-byte directory, then the function, name
// and ordinal tables, then the names.
inline std::vector<uint8_t> exportDirectory(uint32_t rva, const ExportLayout& layout) {
    const uint32_t functionCount = uint32_t(layout.functionRvas.size());
    const uint32_t nameCount = uint32_t(layout.names.size());
    const uint32_t functions = 40;
    const uint32_t names = functions + 4 * functionCount;
    const uint32_t ordinals = names + 4 * nameCount;
    uint32_t strings = ordinals + 2 * nameCount;

    std::vector<uint8_t> bytes(strings);
    put32(bytes, exportBaseField, uint32_t(layout.base));
    put32(bytes, exportFunctionCountField, functionCount);
    put32(bytes, exportNameCountField, nameCount);
    put32(bytes, 28, rva + functions);
    put32(bytes, 32, rva + names);
    put32(bytes, 36, rva + ordinals);
    for (uint32_t i = 0; i < functionCount; ++i)
        put32(bytes, functions + 4 * i, layout.functionRvas[i]);
    for (uint32_t i = 0; i < nameCount; ++i) {
        put32(bytes, names + 4 * i, rva + strings);
        put16(bytes, ordinals + 2 * i, layout.names[i].second);
        putString(bytes, strings, layout.names[i].first);
        strings += uint32_t(layout.names[i].first.size() + 1);
    }
    return bytes;
}

struct ImportedDll {
    std::string dll;
    // Function names; an entry "#n" is an import by ordinal n.
    std::vector<std::string> functions;
};

struct ImportLayout {
    std::vector<uint8_t> bytes;
    uint32_t descriptorsSize;         // the directory's Size: descriptors and terminator
    std::vector<uint32_t> firstThunks;  // import-address-table RVA of each descriptor
};

// An import directory at rva: the descriptors with their zero terminator,
// then per DLL its lookup table, its address table, its hint/name entries
// and its name.
inline ImportLayout importDirectory(uint32_t rva, const std::vector<ImportedDll>& dlls) {
    ImportLayout layout;
    layout.descriptorsSize = 20 * uint32_t(dlls.size() + 1);
    std::vector<uint8_t>& bytes = layout.bytes;
    bytes.resize(layout.descriptorsSize);
    for (size_t d = 0; d < dlls.size(); ++d) {
        const ImportedDll& dll = dlls[d];
        const uint32_t tableSize = 4 * uint32_t(dll.functions.size() + 1);
        const uint32_t lookup = uint32_t(bytes.size());
        const uint32_t addresses = lookup + tableSize;
        uint32_t next = addresses + tableSize;
        for (size_t f = 0; f < dll.functions.size(); ++f) {
            const std::string& function = dll.functions[f];
            uint32_t entry;
            if (!function.empty() && function[0] == '#') {
                entry = 0x80000000u | uint32_t(std::stoul(function.substr(1)));
            } else {
                entry = rva + next;
                put16(bytes, next, 0);  // hint
                putString(bytes, next + 2, function);
                next += uint32_t(2 + function.size() + 1);
            }
            put32(bytes, lookup + 4 * uint32_t(f), entry);
            put32(bytes, addresses + 4 * uint32_t(f), entry);
        }
        put32(bytes, lookup + tableSize - 4, 0);
        put32(bytes, addresses + tableSize - 4, 0);
        putString(bytes, next, dll.dll);

        const uint32_t descriptor = 20 * uint32_t(d);
        put32(bytes, descriptor + 0, rva + lookup);
        put32(bytes, descriptor + 12, rva + next);
        put32(bytes, descriptor + 16, rva + addresses);
        layout.firstThunks.push_back(rva + addresses);
    }
    return layout;
}

struct TlsLayout {
    uint32_t startAddress = 0;
    uint32_t endAddress = 0;
    uint32_t indexAddress = 0;
    uint32_t callbacksAddress = 0;
    uint32_t zeroFillSize = 0;
    uint32_t characteristics = 0;
};

// The 24-byte TLS directory.
inline std::vector<uint8_t> tlsDirectory(const TlsLayout& layout) {
    std::vector<uint8_t> bytes;
    const uint32_t fields[] = {layout.startAddress,     layout.endAddress,   layout.indexAddress,
                               layout.callbacksAddress, layout.zeroFillSize, layout.characteristics};
    for (uint32_t i = 0; i < 6; ++i) put32(bytes, 4 * i, fields[i]);
    return bytes;
}

// ---- Files ------------------------------------------------------------------

// Writes bytes to name in the system's temporary folder; returns its path.
inline std::string writeTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) return {};
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path.string();
}

}  // namespace peimage
