#include "peloader/loader.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <span>
#include <vector>

#include "files.h"

namespace peloader {

namespace {

// ---------------------------------------------------------------------------
// The file in memory and its reader
// ---------------------------------------------------------------------------

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using StreamPtr = std::unique_ptr<std::FILE, StreamCloser>;

// How the file is opened: app::openFile, or a test's stream.
FileOpener fileOpener = app::openFile;

// The whole file, read in pieces so that only bytes that arrive take memory.
// False if it cannot be opened or its stream reports an error. The file is
// closed before any of it is parsed.
bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    StreamPtr stream(fileOpener(path, "rb"));
    if (!stream) return false;
    constexpr size_t piece = size_t{1} << 16;
    size_t length = 0;
    for (;;) {
        bytes.resize(length + piece);
        size_t got = std::fread(bytes.data() + length, 1, piece, stream.get());
        length += got;
        if (got < piece) break;
    }
    bytes.resize(length);
    return !std::ferror(stream.get());
}

using FileBytes = std::span<const uint8_t>;

// True if byteCount bytes from offset lie inside the file.
bool fitsInFile(FileBytes file, uint64_t offset, uint64_t byteCount) {
    return offset <= file.size() && byteCount <= file.size() - offset;
}

// A read position in the file, with typed little-endian reads. A read that
// would pass the end of the file refuses: it gives 0 or nothing and marks the
// reader cut short, and so does every read after it. The caller checks
// cutShort once after the fields of one record.
struct Reader {
    FileBytes file;
    uint64_t offset;        // may lie anywhere: only a read there fails
    bool cutShort = false;
};

Reader readerAt(FileBytes file, uint64_t offset) { return Reader{file, offset}; }

// The next byteCount bytes, or none if the file ends before the last of them.
const uint8_t* take(Reader& reader, uint64_t byteCount) {
    if (reader.cutShort || !fitsInFile(reader.file, reader.offset, byteCount)) {
        reader.cutShort = true;
        return nullptr;
    }
    const uint8_t* bytes = reader.file.data() + reader.offset;
    reader.offset += byteCount;
    return bytes;
}

// Steps over fields that are not used; a later read finds out whether they
// were in the file.
void skip(Reader& reader, uint32_t byteCount) { reader.offset += byteCount; }

uint32_t readUint(Reader& reader) {
    const uint8_t* b = take(reader, 4);
    if (!b) return 0;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

int32_t readInt(Reader& reader) { return static_cast<int32_t>(readUint(reader)); }

uint16_t readUshort(Reader& reader) {
    const uint8_t* b = take(reader, 2);
    if (!b) return 0;
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

bool expectBytes(Reader& reader, std::span<const uint8_t> expected) {
    const uint8_t* actual = take(reader, expected.size());
    return actual && std::equal(expected.begin(), expected.end(), actual);
}

// The bytes themselves, not a copy; size 0 reads nothing, wherever the
// reader stands.
FileBytes readBlock(Reader& reader, uint32_t size) {
    if (size == 0) return {};
    const uint8_t* bytes = take(reader, size);
    return bytes ? FileBytes(bytes, size) : FileBytes();
}

void readUintArray(Reader& reader, std::span<uint32_t> buffer) {
    for (uint32_t& value : buffer) value = readUint(reader);
}

void readUshortArray(Reader& reader, std::span<uint16_t> buffer) {
    for (uint16_t& value : buffer) value = readUshort(reader);
}

// The bytes up to a zero byte, unchanged; cut short if the file ends first.
std::string readCString(Reader& reader) {
    const FileBytes file = reader.file;
    if (!reader.cutShort && reader.offset < file.size()) {
        const auto start = file.begin() + static_cast<ptrdiff_t>(reader.offset);
        const auto zero = std::find(start, file.end(), uint8_t{0});
        if (zero != file.end()) {
            reader.offset += uint64_t(zero - start) + 1;
            return std::string(start, zero);
        }
    }
    reader.cutShort = true;
    return {};
}

// Widths of the fields that the reader steps over, as the format names them.
namespace width {
constexpr uint32_t timeDateStamp = 4;
constexpr uint32_t pointerToSymbolTable = 4;
constexpr uint32_t numberOfSymbols = 4;
constexpr uint32_t fileCharacteristics = 2;
constexpr uint32_t magic = 2;
constexpr uint32_t linkerVersions = 2;
constexpr uint32_t sizeOfCode = 4;
constexpr uint32_t sizeOfInitializedData = 4;
constexpr uint32_t sizeOfUninitializedData = 4;
constexpr uint32_t baseOfCode = 4;
constexpr uint32_t baseOfData = 4;
constexpr uint32_t alignments = 8;  // SectionAlignment, FileAlignment
constexpr uint32_t systemAndImageVersions = 8;
constexpr uint32_t win32VersionValue = 4;
constexpr uint32_t sizeOfImage = 4;
constexpr uint32_t sizeOfHeaders = 4;
constexpr uint32_t checkSum = 4;
constexpr uint32_t subsystem = 2;
constexpr uint32_t dllCharacteristics = 2;
constexpr uint32_t sizeOfStackCommit = 4;
constexpr uint32_t heapSizes = 8;  // SizeOfHeapReserve, SizeOfHeapCommit
constexpr uint32_t loaderFlags = 4;
constexpr uint32_t sectionName = 8;
constexpr uint32_t relocationsAndLineNumbers = 12;  // two pointers, two counts
constexpr uint32_t forwarderChain = 4;
constexpr uint32_t exportHeader = 16;  // Characteristics, TimeDateStamp, versions, Name
}  // namespace width

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

Reader readerAtRva(FileBytes file, const DirectorySection& section, uint32_t rva) {
    return readerAt(file, fileOffset(section, rva));
}

// False if the file ends before the name's zero byte.
bool readCStringAtRva(FileBytes file, const DirectorySection& section, uint32_t rva,
                      std::string& text) {
    Reader reader = readerAtRva(file, section, rva);
    text = readCString(reader);
    return !reader.cutShort;
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
bool tableFits(FileBytes file, const DirectorySection& section, uint32_t tableRva,
               int32_t count, uint32_t entrySize) {
    if (count == 0) return true;
    return count > 0 && fitsInFile(file, fileOffset(section, tableRva),
                                   uint64_t(uint32_t(count)) * entrySize);
}

bool readExports(FileBytes file, const DirectorySection& section, uint32_t exportRva,
                 uint32_t /*exportSize*/, uint32_t imageBase, ExportsByName& byName,
                 ExportsByOrdinal& byOrdinal) {
    Reader fields = readerAtRva(file, section, exportRva + width::exportHeader);
    const int32_t base = readInt(fields);
    const int32_t functionCount = readInt(fields);
    const int32_t nameCount = readInt(fields);
    const uint32_t functionsRva = readUint(fields);
    const uint32_t namesRva = readUint(fields);
    const uint32_t ordinalsRva = readUint(fields);
    if (fields.cutShort) return false;

    if (!tableFits(file, section, functionsRva, functionCount, 4)) return false;
    std::vector<uint32_t> functions(static_cast<uint32_t>(functionCount));
    Reader functionTable = readerAtRva(file, section, functionsRva);
    readUintArray(functionTable, functions);
    if (functionTable.cutShort || hasForwarder(section, functions)) return false;

    for (uint32_t i = 0; i < functions.size(); ++i) {
        auto ordinal = static_cast<int32_t>(static_cast<uint32_t>(base) + i);
        byOrdinal[ordinal] = imageBase + functions[i];
    }

    if (!tableFits(file, section, ordinalsRva, nameCount, 2)) return false;
    std::vector<uint16_t> ordinals(static_cast<uint32_t>(nameCount));
    Reader ordinalTable = readerAtRva(file, section, ordinalsRva);
    readUshortArray(ordinalTable, ordinals);
    if (ordinalTable.cutShort) return false;

    // Names are read one at a time, each entry of the name table at its own RVA.
    for (uint32_t i = 0; i < ordinals.size(); ++i) {
        Reader nameEntry = readerAtRva(file, section, namesRva + 4 * i);
        const uint32_t nameRva = readUint(nameEntry);
        std::string name;
        if (nameEntry.cutShort || !readCStringAtRva(file, section, nameRva, name)) return false;
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
bool readLookupTable(FileBytes file, const DirectorySection& section, uint32_t lookupRva,
                     uint32_t firstThunk, uint32_t imageBase,
                     std::map<std::string, uint32_t>& functions) {
    Reader entries = readerAtRva(file, section, lookupRva);
    for (uint32_t slot = firstThunk;; slot += 4) {
        const uint32_t entry = readUint(entries);
        if (entries.cutShort) return false;
        if (entry == 0) return true;
        if (entry & 0x80000000) continue;
        std::string name;
        if (!readCStringAtRva(file, section, entry + 2, name)) return false;  // past the hint
        functions[name] = imageBase + slot;
    }
}

bool readImports(FileBytes file, const DirectorySection& section, uint32_t importRva,
                 uint32_t importSize, uint32_t imageBase, Imports& imports) {
    Reader descriptors = readerAtRva(file, section, importRva);
    for (uint32_t offset = 0; offset < importSize; offset += 20) {
        const uint32_t lookupRva = readUint(descriptors);
        if (descriptors.cutShort) return false;
        if (lookupRva == 0) break;  // whatever the rest of this descriptor holds
        skip(descriptors, width::timeDateStamp + width::forwarderChain);
        const uint32_t nameRva = readUint(descriptors);
        const uint32_t firstThunk = readUint(descriptors);
        if (descriptors.cutShort) return false;

        std::string dllName;
        if (!readCStringAtRva(file, section, nameRva, dllName)) return false;
        std::map<std::string, uint32_t> functions;
        if (!readLookupTable(file, section, lookupRva, firstThunk, imageBase, functions))
            return false;
        // A later descriptor of the same DLL replaces the earlier table whole.
        if (!functions.empty()) imports[dllName] = std::move(functions);
    }
    return true;
}

bool readTls(FileBytes file, const DirectorySection& section, uint32_t tlsRva,
             uint32_t /*tlsSize*/, TlsInfo& tls) {
    Reader fields = readerAtRva(file, section, tlsRva);
    const uint32_t start = readUint(fields);
    const uint32_t end = readUint(fields);
    const uint32_t indexAddress = readUint(fields);
    const uint32_t callbacksAddress = readUint(fields);
    const uint32_t zeroFillSize = readUint(fields);
    const uint32_t characteristics = readUint(fields);
    if (fields.cutShort || characteristics != 0) return false;
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

// Entry i of the data directory, at optStart + 0x60 + 8 * i.
bool readDirectoryEntry(FileBytes file, uint64_t optStart, uint32_t entry,
                        DataDirectory& directory) {
    Reader fields = readerAt(file, optStart + minimumOptionalHeaderSize + 8 * entry);
    directory.rva = readUint(fields);
    directory.size = readUint(fields);
    return !fields.cutShort;
}

// False for a file cut short, not a PE file for the i386, or with an optional
// header too small for its own fields and directory entries.
bool readHeaders(FileBytes file, Headers& headers) {
    static constexpr uint8_t peSignature[] = {'P', 'E', 0, 0};
    Reader dosHeader = readerAt(file, 0x3C);  // e_lfanew: the one field of the DOS header that is read
    const uint32_t peOffset = readUint(dosHeader);
    if (dosHeader.cutShort) return false;

    Reader r = readerAt(file, peOffset);
    if (!expectBytes(r, peSignature)) return false;
    const uint16_t machine = readUshort(r);
    headers.sectionCount = readUshort(r);
    skip(r, width::timeDateStamp + width::pointerToSymbolTable + width::numberOfSymbols);
    const uint16_t optionalHeaderSize = readUshort(r);
    skip(r, width::fileCharacteristics);

    const uint64_t optStart = r.offset;
    skip(r, width::magic + width::linkerVersions + width::sizeOfCode +
                width::sizeOfInitializedData + width::sizeOfUninitializedData);
    headers.entryPointRva = readUint(r);
    skip(r, width::baseOfCode + width::baseOfData);
    headers.imageBase = readUint(r);
    skip(r, width::alignments + width::systemAndImageVersions);
    headers.majorSubsystemVersion = readUshort(r);
    headers.minorSubsystemVersion = readUshort(r);
    skip(r, width::win32VersionValue + width::sizeOfImage + width::sizeOfHeaders +
                width::checkSum + width::subsystem + width::dllCharacteristics);
    headers.stackReserve = readUint(r);
    skip(r, width::sizeOfStackCommit + width::heapSizes + width::loaderFlags);
    headers.rvaAndSizesCount = readUint(r);
    if (r.cutShort || machine != machineI386 || optionalHeaderSize < minimumOptionalHeaderSize)
        return false;
    const uint32_t n = headers.rvaAndSizesCount;
    if (optionalHeaderSize < minimumOptionalHeaderSize + 8 * uint64_t(n)) return false;

    headers.exports = headers.imports = headers.tls = {};
    if (n > exportEntry && !readDirectoryEntry(file, optStart, exportEntry, headers.exports))
        return false;
    if (n > importEntry && !readDirectoryEntry(file, optStart, importEntry, headers.imports))
        return false;
    if (n > tlsEntry && !readDirectoryEntry(file, optStart, tlsEntry, headers.tls)) return false;
    headers.sectionTableOffset = optStart + optionalHeaderSize;
    return true;
}

// Guest memory is a list of ascending blocks that do not overlap: the stack
// from stackStart, then the sections in table order, all below the mapped
// block. The stack reserve and the section table lie outside the code digest,
// so a header whose stack reaches into the sections, or sections that
// overlap, run out of order, or reach the mapped block or the reserved
// addresses above it, would leave section addresses reading other bytes or
// running native handlers. Ends are computed in 64 bits: nothing wraps past
// 4 GiB to look low. Moves lowestFree past the section.
bool endsBelowMappedMemory(uint64_t end) { return end <= mappedMemoryStart; }

bool followsInMemory(uint64_t& lowestFree, uint32_t address, uint32_t virtualSize) {
    if (address < lowestFree) return false;
    lowestFree = uint64_t{address} + virtualSize;
    return endsBelowMappedMemory(lowestFree);
}

// Reads every section-table entry and its raw bytes, computes the code digest
// and remembers, for each directory, the section that holds it.
bool readSections(FileBytes file, Headers& headers, std::vector<Section>& sections,
                  std::string& codeHash) {
    uint64_t lowestFree = uint64_t{stackStart} + headers.stackReserve;
    if (!endsBelowMappedMemory(lowestFree)) return false;
    Reader table = readerAt(file, headers.sectionTableOffset);
    for (uint32_t i = 0; i < headers.sectionCount; ++i) {
        skip(table, width::sectionName);
        const uint32_t virtualSize = readUint(table);
        const uint32_t virtualAddress = readUint(table);
        const uint32_t rawSize = readUint(table);
        const uint32_t rawOffset = readUint(table);
        skip(table, width::relocationsAndLineNumbers);
        const uint32_t characteristics = readUint(table);
        if (table.cutShort) return false;
        const bool isCode = (characteristics & sectionContainsCode) == sectionContainsCode;
        const uint32_t address = headers.imageBase + virtualAddress;
        if (!followsInMemory(lowestFree, address, virtualSize)) return false;

        Reader rawReader = readerAt(file, rawOffset);
        FileBytes raw = readBlock(rawReader, rawSize);
        if (rawReader.cutShort) return false;

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

std::unique_ptr<Program> readProgram(FileBytes file) {
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

void setFileOpenerForTests(FileOpener opener) {
    fileOpener = opener != nullptr ? opener : app::openFile;
}

uint32_t rvaToFileOffset(uint32_t virtualAddress, uint32_t /*virtualSize*/,
                         uint32_t pointerToRawData, uint32_t rva) {
    return rva - virtualAddress + pointerToRawData;
}

std::unique_ptr<Program> loadProgram(const std::string& path) {
    // A file that cannot be read, or whose sizes ask for more memory than the
    // host has, is as unusable as a damaged one.
    try {
        std::vector<uint8_t> bytes;
        if (!readFile(path, bytes)) return nullptr;
        return readProgram(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace peloader
