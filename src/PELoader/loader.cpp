#include "PELoader/loader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <new>
#include <vector>

#include "log.h"

namespace peloader {

namespace {

// A seek, a position query or a read that the file stream reports as failed.
class IoError : public app::Exception {
public:
    explicit IoError(std::string message, const char* file = __builtin_FILE(),
                     int line = __builtin_LINE())
        : Exception(std::move(message), file, line) {}
    const char* kind() const override { return "IoError"; }
};

// ---------------------------------------------------------------------------
// The open file and its read primitives
// ---------------------------------------------------------------------------

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using StreamPtr = std::unique_ptr<std::FILE, StreamCloser>;

// The executable's stream and its length. Every size of bytes to read and
// every table count taken from the file is checked against the length before
// anything is allocated for it, so a lying header costs a refusal, never a
// huge allocation.
struct ImageFile {
    std::FILE* stream;
    uint64_t length;
};

// 64-bit positions: file offsets from the headers reach up to 4 GiB, beyond
// the 32-bit long of fseek on Windows.
int seekStream(std::FILE* stream, int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(stream, offset, origin);
#else
    return fseeko(stream, static_cast<off_t>(offset), origin);
#endif
}

int64_t tellStream(std::FILE* stream) {
#ifdef _WIN32
    return _ftelli64(stream);
#else
    return ftello(stream);
#endif
}

void seekTo(ImageFile& file, uint64_t offset) {
    if (seekStream(file.stream, static_cast<int64_t>(offset), SEEK_SET) != 0)
        throw IoError("Seek in the executable failed");
}

void skip(ImageFile& file, uint32_t byteCount) {
    if (seekStream(file.stream, byteCount, SEEK_CUR) != 0)
        throw IoError("Seek in the executable failed");
}

uint64_t position(ImageFile& file) {
    int64_t offset = tellStream(file.stream);
    if (offset < 0) throw IoError("Position query in the executable failed");
    return static_cast<uint64_t>(offset);
}

uint64_t streamLength(std::FILE* stream) {
    if (seekStream(stream, 0, SEEK_END) != 0) throw IoError("Seek in the executable failed");
    int64_t length = tellStream(stream);
    if (length < 0) throw IoError("Position query in the executable failed");
    if (seekStream(stream, 0, SEEK_SET) != 0) throw IoError("Seek in the executable failed");
    return static_cast<uint64_t>(length);
}

// True if byteCount bytes from offset lie inside the file.
bool fitsInFile(const ImageFile& file, uint64_t offset, uint64_t byteCount) {
    return offset <= file.length && byteCount <= file.length - offset;
}

// False at the end of the file; a stream error is raised instead.
bool readBytes(ImageFile& file, void* buffer, size_t byteCount) {
    if (byteCount == 0) return true;
    if (std::fread(buffer, 1, byteCount, file.stream) == byteCount) return true;
    if (std::ferror(file.stream)) throw IoError("Read from the executable failed");
    return false;
}

bool readUint(ImageFile& file, uint32_t& value) {
    uint8_t bytes[4];
    value = 0;
    if (!readBytes(file, bytes, 4)) return false;
    value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
            uint32_t(bytes[3]) << 24;
    return true;
}

bool readInt(ImageFile& file, int32_t& value) {
    uint32_t bits;
    bool ok = readUint(file, bits);
    value = static_cast<int32_t>(bits);
    return ok;
}

bool readUshort(ImageFile& file, uint16_t& value) {
    uint8_t bytes[2];
    value = 0;
    if (!readBytes(file, bytes, 2)) return false;
    value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

bool expectBytes(ImageFile& file, std::span<const uint8_t> expected) {
    std::vector<uint8_t> actual(expected.size());
    return readBytes(file, actual.data(), actual.size()) &&
           std::equal(actual.begin(), actual.end(), expected.begin());
}

bool readSectionName(ImageFile& file, std::array<uint8_t, 8>& name) {
    return readBytes(file, name.data(), name.size());
}

bool readBlock(ImageFile& file, uint32_t fileOffset, uint32_t size, std::vector<uint8_t>& block) {
    seekTo(file, fileOffset);
    block.clear();
    if (size == 0) return true;  // wherever it points: nothing is read
    if (!fitsInFile(file, fileOffset, size)) return false;  // the read would come up short
    block.resize(size);
    return readBytes(file, block.data(), size);
}

bool readUintArray(ImageFile& file, std::span<uint32_t> buffer) {
    for (uint32_t& value : buffer)
        if (!readUint(file, value)) return false;
    return true;
}

bool readUshortArray(ImageFile& file, std::span<uint16_t> buffer) {
    for (uint16_t& value : buffer)
        if (!readUshort(file, value)) return false;
    return true;
}

bool readCString(ImageFile& file, std::string& text) {
    text.clear();
    for (;;) {
        int c = std::fgetc(file.stream);
        if (c == EOF) {
            if (std::ferror(file.stream)) throw IoError("Read from the executable failed");
            return false;
        }
        if (c == 0) return true;
        text.push_back(static_cast<char>(c));
    }
}

// ---------------------------------------------------------------------------
// Data directories
// ---------------------------------------------------------------------------

// The section-table entry that holds a directory; all zero while none does.
struct DirectorySection {
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t pointerToRawData = 0;
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
    DirectorySection section;
};

bool sectionHolds(uint32_t virtualAddress, uint32_t virtualSize, uint32_t rva) {
    return virtualAddress <= rva && rva < virtualAddress + virtualSize;
}

uint32_t fileOffset(const DirectorySection& section, uint32_t rva) {
    return rvaToFileOffset(section.virtualAddress, section.virtualSize,
                           section.pointerToRawData, rva);
}

void seekToRva(ImageFile& file, const DirectorySection& section, uint32_t rva) {
    seekTo(file, fileOffset(section, rva));
}

bool isInExportSection(const DirectorySection& exportSection, uint32_t rva) {
    return sectionHolds(exportSection.virtualAddress, exportSection.virtualSize, rva);
}

// A function RVA inside the export directory's own section is taken for a
// forwarder string, which is not supported.
bool hasForwarder(const DirectorySection& exportSection, std::span<const uint32_t> functionRvas) {
    for (uint32_t rva : functionRvas)
        if (isInExportSection(exportSection, rva)) return true;
    return false;
}

// Counts are signed in this reader; a negative one, or one whose table would
// run past the end of the file, is refused before its table is allocated. An
// empty table reads nothing, wherever its RVA points.
bool tableFits(ImageFile& file, const DirectorySection& section, uint32_t tableRva,
               int32_t count, uint32_t entrySize) {
    if (count == 0) return true;
    return count > 0 && fitsInFile(file, fileOffset(section, tableRva),
                                   uint64_t(uint32_t(count)) * entrySize);
}

bool readExports(ImageFile& file, const DirectorySection& section, uint32_t exportRva,
                 uint32_t /*exportSize*/, uint32_t imageBase, ExportsByName& byName,
                 ExportsByOrdinal& byOrdinal) {
    int32_t base, functionCount, nameCount;
    uint32_t functionsRva, namesRva, ordinalsRva;
    seekToRva(file, section, exportRva + 16);
    if (!readInt(file, base) || !readInt(file, functionCount) || !readInt(file, nameCount) ||
        !readUint(file, functionsRva) || !readUint(file, namesRva) ||
        !readUint(file, ordinalsRva))
        return false;

    seekToRva(file, section, functionsRva);
    if (!tableFits(file, section, functionsRva, functionCount, 4)) return false;
    std::vector<uint32_t> functions(static_cast<uint32_t>(functionCount));
    if (!readUintArray(file, functions)) return false;
    if (hasForwarder(section, functions)) return false;

    for (uint32_t i = 0; i < functions.size(); ++i) {
        auto ordinal = static_cast<int32_t>(static_cast<uint32_t>(base) + i);
        byOrdinal[ordinal] = imageBase + functions[i];
    }

    seekToRva(file, section, ordinalsRva);
    if (!tableFits(file, section, ordinalsRva, nameCount, 2)) return false;
    std::vector<uint16_t> ordinals(static_cast<uint32_t>(nameCount));
    if (!readUshortArray(file, ordinals)) return false;

    for (uint32_t i = 0; i < ordinals.size(); ++i) {
        uint32_t nameRva;
        std::string name;
        seekToRva(file, section, namesRva + 4 * i);
        if (!readUint(file, nameRva)) return false;
        seekToRva(file, section, nameRva);
        if (!readCString(file, name)) return false;
        // The ordinal indexes the function table directly; Base is not subtracted.
        if (ordinals[i] >= functions.size())
            throw app::RangeError(app::format("Export ordinal %u outside the function table",
                                              unsigned(ordinals[i])));
        byName[name] = imageBase + functions[ordinals[i]];
    }
    return true;
}

// One descriptor's lookup table: function name -> guest address of its
// import-address-table slot. Imports by ordinal take a slot but no entry.
bool readLookupTable(ImageFile& file, const DirectorySection& section, uint32_t lookupRva,
                     uint32_t firstThunk, uint32_t imageBase,
                     std::map<std::string, uint32_t>& functions) {
    seekToRva(file, section, lookupRva);
    for (uint32_t slot = firstThunk;; slot += 4) {
        uint32_t entry;
        if (!readUint(file, entry)) return false;
        if (entry == 0) return true;
        if (entry & 0x80000000) continue;
        uint64_t next = position(file);
        std::string name;
        seekToRva(file, section, entry + 2);  // past the hint
        if (!readCString(file, name)) return false;
        functions[name] = imageBase + slot;
        seekTo(file, next);
    }
}

bool readImports(ImageFile& file, const DirectorySection& section, uint32_t importRva,
                 uint32_t importSize, uint32_t imageBase, Imports& imports) {
    seekToRva(file, section, importRva);
    for (uint32_t offset = 0; offset < importSize; offset += 20) {
        uint32_t lookupRva, nameRva, firstThunk;
        if (!readUint(file, lookupRva)) return false;
        if (lookupRva == 0) break;
        skip(file, 8);
        if (!readUint(file, nameRva) || !readUint(file, firstThunk)) return false;
        uint64_t descriptorEnd = position(file);

        std::string dllName;
        seekToRva(file, section, nameRva);
        if (!readCString(file, dllName)) return false;
        std::map<std::string, uint32_t> functions;
        if (!readLookupTable(file, section, lookupRva, firstThunk, imageBase, functions))
            return false;
        // A later descriptor of the same DLL replaces the earlier table whole.
        if (!functions.empty()) imports[dllName] = std::move(functions);
        seekTo(file, descriptorEnd);
    }
    return true;
}

bool readTls(ImageFile& file, const DirectorySection& section, uint32_t tlsRva,
             uint32_t /*tlsSize*/, TlsInfo& tls) {
    uint32_t start, end, indexAddress, callbacksAddress, zeroFillSize, characteristics;
    seekToRva(file, section, tlsRva);
    if (!readUint(file, start) || !readUint(file, end) || !readUint(file, indexAddress) ||
        !readUint(file, callbacksAddress) || !readUint(file, zeroFillSize) ||
        !readUint(file, characteristics))
        return false;
    if (characteristics != 0) return false;
    tls = TlsInfo{true, start, end - start, indexAddress, callbacksAddress, zeroFillSize};
    return true;
}

// ---------------------------------------------------------------------------
// Headers and sections
// ---------------------------------------------------------------------------

constexpr uint16_t machineI386 = 0x14C;
constexpr uint16_t minimumOptionalHeaderSize = 0x60;
constexpr uint32_t sectionContainsCode = 0x20;
constexpr uint32_t exportEntry = 0;
constexpr uint32_t importEntry = 1;
constexpr uint32_t tlsEntry = 9;

// What the reader takes from the file header and the optional header.
struct Headers {
    uint16_t sectionCount;
    uint64_t sectionTableOffset;
    uint32_t entryPointRva;
    uint32_t imageBase;
    uint16_t majorSubsystemVersion;
    uint16_t minorSubsystemVersion;
    uint32_t stackReserve;
    uint32_t rvaAndSizesCount;
    DataDirectory exports;
    DataDirectory imports;
    DataDirectory tls;
};

bool readDirectoryEntry(ImageFile& file, uint64_t entryOffset, DataDirectory& directory) {
    seekTo(file, entryOffset);
    return readUint(file, directory.rva) && readUint(file, directory.size);
}

// False for a file cut short, not a PE file for the i386, or with an optional
// header too small for its own fields and directory entries.
bool readHeaders(ImageFile& file, Headers& headers) {
    static constexpr uint8_t peSignature[] = {'P', 'E', 0, 0};
    uint32_t peOffset;
    seekTo(file, 0x3C);  // e_lfanew: the one field of the DOS header that is read
    if (!readUint(file, peOffset)) return false;
    seekTo(file, peOffset);
    if (!expectBytes(file, peSignature)) return false;

    uint16_t machine, optionalHeaderSize, fileCharacteristics;
    if (!readUshort(file, machine) || machine != machineI386) return false;
    if (!readUshort(file, headers.sectionCount)) return false;
    skip(file, 12);
    if (!readUshort(file, optionalHeaderSize) || optionalHeaderSize < minimumOptionalHeaderSize)
        return false;
    if (!readUshort(file, fileCharacteristics)) return false;

    const uint64_t optStart = position(file);
    uint16_t magic;
    uint32_t sizeOfCode, sizeOfInitializedData, baseOfCode, baseOfData;
    if (!readUshort(file, magic)) return false;
    skip(file, 2);
    if (!readUint(file, sizeOfCode) || !readUint(file, sizeOfInitializedData)) return false;
    skip(file, 4);
    if (!readUint(file, headers.entryPointRva) || !readUint(file, baseOfCode) ||
        !readUint(file, baseOfData) || !readUint(file, headers.imageBase))
        return false;
    skip(file, 16);
    if (!readUshort(file, headers.majorSubsystemVersion) ||
        !readUshort(file, headers.minorSubsystemVersion))
        return false;
    skip(file, 20);
    if (!readUint(file, headers.stackReserve)) return false;
    skip(file, 16);
    if (!readUint(file, headers.rvaAndSizesCount)) return false;
    const uint32_t n = headers.rvaAndSizesCount;
    if (optionalHeaderSize < minimumOptionalHeaderSize + 8 * uint64_t(n)) return false;

    headers.exports = headers.imports = headers.tls = {};
    if (n > exportEntry && !readDirectoryEntry(file, optStart + 0x60, headers.exports))
        return false;
    if (n > importEntry && !readDirectoryEntry(file, optStart + 0x68, headers.imports))
        return false;
    if (n > tlsEntry && !readDirectoryEntry(file, optStart + 0xA8, headers.tls)) return false;
    headers.sectionTableOffset = optStart + optionalHeaderSize;
    return true;
}

// Guest memory is a list of ascending blocks that do not overlap: the stack
// from stackStart, then the sections in table order. The stack reserve lies
// outside the code digest, so a header whose stack reaches into the sections,
// or sections that overlap, run out of order or past 4 GiB, would leave
// section addresses reading other bytes. Moves lowestFree past the section.
bool followsInMemory(uint64_t& lowestFree, uint32_t address, uint32_t virtualSize) {
    if (address < lowestFree) return false;
    lowestFree = uint64_t{address} + virtualSize;
    return lowestFree <= 0x100000000ull;
}

// Reads every section-table entry and its raw bytes, computes the code digest
// and remembers, for each directory, the section that holds it.
bool readSections(ImageFile& file, Headers& headers, std::vector<Section>& sections,
                  std::string& codeHash) {
    uint64_t lowestFree = uint64_t{stackStart} + headers.stackReserve;
    seekTo(file, headers.sectionTableOffset);
    for (uint32_t i = 0; i < headers.sectionCount; ++i) {
        std::array<uint8_t, 8> name;
        uint32_t virtualSize, virtualAddress, rawSize, rawOffset, characteristics;
        if (!readSectionName(file, name) || !readUint(file, virtualSize) ||
            !readUint(file, virtualAddress) || !readUint(file, rawSize) ||
            !readUint(file, rawOffset))
            return false;
        skip(file, 12);
        if (!readUint(file, characteristics)) return false;
        bool isCode = (characteristics & sectionContainsCode) == sectionContainsCode;
        const uint32_t address = headers.imageBase + virtualAddress;
        if (!followsInMemory(lowestFree, address, virtualSize)) return false;

        uint64_t nextEntry = position(file);
        std::vector<uint8_t> raw;
        if (!readBlock(file, rawOffset, rawSize, raw)) return false;
        seekTo(file, nextEntry);

        // VirtualSize has no bound in the file: memory beyond the raw bytes is zeros.
        sections.push_back(makeSection(address, virtualSize, raw, isCode));
        // Sections do not overlap, so at most one holds a directory.
        for (DataDirectory* directory : {&headers.exports, &headers.imports, &headers.tls})
            if (sectionHolds(virtualAddress, virtualSize, directory->rva))
                directory->section = {virtualAddress, virtualSize, rawOffset};
        // The digest covers the raw bytes as read, not the zero-filled section.
        if (isCode) codeHash = toLowerHex(murmurDigest(raw));
    }
    return true;
}

// A directory is read when its entry exists and its RVA is not 0.
bool isPresent(const DataDirectory& directory, uint32_t entry, uint32_t rvaAndSizesCount) {
    return rvaAndSizesCount > entry && directory.rva != 0;
}

// A present directory must lie in a section; one at VirtualAddress 0 never counts.
bool liesInSection(const DataDirectory& directory) {
    return directory.section.virtualAddress != 0;
}

std::unique_ptr<Program> readProgram(ImageFile& file) {
    Headers headers;
    std::vector<Section> sections;
    std::string codeHash;
    if (!readHeaders(file, headers) || !readSections(file, headers, sections, codeHash))
        return nullptr;

    const uint32_t n = headers.rvaAndSizesCount;
    const DataDirectory& exports = headers.exports;
    const DataDirectory& imports = headers.imports;
    const DataDirectory& tls = headers.tls;
    ExportsByName exportsByName;
    ExportsByOrdinal exportsByOrdinal;
    Imports importTable;
    TlsInfo tlsInfo{};
    if (isPresent(exports, exportEntry, n) &&
        (!liesInSection(exports) ||
         !readExports(file, exports.section, exports.rva, exports.size, headers.imageBase,
                       exportsByName, exportsByOrdinal)))
        return nullptr;
    if (isPresent(imports, importEntry, n) &&
        (!liesInSection(imports) ||
         !readImports(file, imports.section, imports.rva, imports.size, headers.imageBase,
                      importTable)))
        return nullptr;
    if (isPresent(tls, tlsEntry, n) &&
        (!liesInSection(tls) || !readTls(file, tls.section, tls.rva, tls.size, tlsInfo)))
        return nullptr;

    return std::make_unique<Program>(
        headers.imageBase + headers.entryPointRva, headers.stackReserve,
        headers.majorSubsystemVersion, headers.minorSubsystemVersion, std::move(sections),
        std::move(codeHash), std::move(exportsByName), std::move(exportsByOrdinal),
        std::move(importTable), tlsInfo);
}

}  // namespace

uint32_t rvaToFileOffset(uint32_t virtualAddress, uint32_t /*virtualSize*/,
                         uint32_t pointerToRawData, uint32_t rva) {
    return rva - virtualAddress + pointerToRawData;
}

std::unique_ptr<Program> loadProgram(const std::string& path) {
    // Closed on every way out: a Program, none, or an exception.
    StreamPtr stream(app::openFile(path, "rb"));
    if (!stream) return nullptr;
    // A file that cannot be read, or whose sizes ask for more memory than the
    // host has, is as unusable as a damaged one.
    try {
        ImageFile file{stream.get(), streamLength(stream.get())};
        return readProgram(file);
    } catch (const IoError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace peloader
