#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "peloader/loader.h"
#include "peImage.h"

using namespace peloader;
using namespace peimage;

// A size or count from the file must never turn into an allocation this
// large: with AddressSanitizer, one that does fails the test at once.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=256"; }
#endif

namespace {

const uint32_t imageBase = PeImage{}.imageBase;  // where the test images are linked
constexpr uint32_t rdata = 0x2000;  // RVA of the directory section in fixtures

// A one-section image: ".text" at RVA 0x1000 with a few code bytes.
PeImage basicImage() {
    PeImage image;
    image.addSection(0x1000, 0x1000, {0x55, 0x89, 0xE5, 0xC3}, codeSection).name = ".text";
    return image;
}

class LoaderTest : public ::testing::Test {
protected:
    std::unique_ptr<Program> load(const std::vector<uint8_t>& file) {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = writeTempFile("peloader_" + std::to_string(getpid()) + "_" + name + ".exe", file);
        return loadProgram(path_);
    }
    std::unique_ptr<Program> load(const PeImage& image) { return load(image.build()); }

    void TearDown() override {
        if (!path_.empty()) std::filesystem::remove(path_);
    }

private:
    std::string path_;
};

// ---- Headers -----------------------------------------------------------------

struct HeaderCase {
    const char* name;
    void (*editImage)(PeImage&);
    void (*editFile)(std::vector<uint8_t>&);
    bool loads;
};

void noImageEdit(PeImage&) {}

// Sections follow each other in ascending order: one that lies below .text
// comes first in the table.
void addSectionBelowText(PeImage& image, uint32_t virtualAddress, uint32_t virtualSize,
                         std::vector<uint8_t> raw) {
    image.addSection(virtualAddress, virtualSize, std::move(raw));
    std::rotate(image.sections.begin(), image.sections.end() - 1, image.sections.end());
}
void noFileEdit(std::vector<uint8_t>&) {}

const HeaderCase headerCases[] = {
    {"Baseline", noImageEdit, noFileEdit, true},
    {"NoDosSignature", [](PeImage& i) { i.dosSignature = false; }, noFileEdit, true},
    {"PeOffsetPastEnd", noImageEdit, [](std::vector<uint8_t>& f) { put32(f, 0x3C, 0x100000); },
     false},
    {"FileEndsBeforePeOffset", noImageEdit, [](std::vector<uint8_t>& f) { f.resize(0x3E); },
     false},
    {"WrongPeSignature", noImageEdit, [](std::vector<uint8_t>& f) { f[0x80 + 3] = 1; }, false},
    {"MachineAmd64", [](PeImage& i) { i.machine = 0x8664; }, noFileEdit, false},
    {"FileEndsInOptionalHeader", noImageEdit,
     [](std::vector<uint8_t>& f) { f.resize(0x80 + 24 + 74); }, false},
    {"OptionalHeader5F",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 0;
         i.sizeOfOptionalHeader = 0x5F;
     },
     noFileEdit, false},
    {"OptionalHeader60WithoutDirectories",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 0;
         i.sizeOfOptionalHeader = 0x60;
     },
     noFileEdit, true},
    {"OptionalHeaderOneByteShortOfDirectories", [](PeImage& i) { i.sizeOfOptionalHeader = 0xDF; },
     noFileEdit, false},
    {"OptionalHeaderHoldsAllDirectories", [](PeImage& i) { i.sizeOfOptionalHeader = 0xE0; },
     noFileEdit, true},
    // 0x60 + 8 * 0x20000000 is 0x60 in 32 bits: the test must not wrap.
    {"DirectoryCountOverflows32Bits", [](PeImage& i) { i.numberOfRvaAndSizes = 0x20000000; },
     noFileEdit, false},
    // The entries below hold a directory inside the headers, which no
    // section holds: read, it refuses the file.
    {"TlsEntryBeyondCountIsNotRead",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 9;
         i.sizeOfOptionalHeader = 0xE0;
         i.directories[tlsEntry] = {0x10, 24};
     },
     noFileEdit, true},
    {"TlsEntryWithinCountIsRead",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 10;
         i.sizeOfOptionalHeader = 0xE0;
         i.directories[tlsEntry] = {0x10, 24};
     },
     noFileEdit, false},
    {"ImportEntryBeyondCountIsNotRead",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 1;
         i.sizeOfOptionalHeader = 0xE0;
         i.directories[importEntry] = {0x10, 20};
     },
     noFileEdit, true},
    {"ExportEntryWithinCountIsRead",
     [](PeImage& i) {
         i.numberOfRvaAndSizes = 1;
         i.directories[exportEntry] = {0x10, 40};
     },
     noFileEdit, false},
    {"DirectoryInSectionWithoutVirtualSize",
     [](PeImage& i) {
         i.addSection(rdata, 0, tlsDirectory({}));
         i.directories[tlsEntry] = {rdata, 24};
     },
     noFileEdit, false},
    {"DirectoryInSectionAtRvaZero",
     [](PeImage& i) {
         std::vector<uint8_t> raw(0x10);
         putBytes(raw, 0x10, tlsDirectory({}).data(), 24);
         addSectionBelowText(i, 0, 0x1000, raw);
         i.directories[tlsEntry] = {0x10, 24};
     },
     noFileEdit, false},
    {"DirectoryWrappingSectionEnd",  // VirtualAddress + VirtualSize wraps: the range is empty
     [](PeImage& i) {
         addSectionBelowText(i, 0xFFFFF000, 0x2000, tlsDirectory({}));
         i.directories[tlsEntry] = {0xFFFFF000, 24};
     },
     noFileEdit, false},
    {"NoSections", [](PeImage& i) { i.sections.clear(); }, noFileEdit, true},
    {"FileEndsInSectionTable", noImageEdit,
     [](std::vector<uint8_t>& f) { f.resize(0x80 + 24 + 0xE0 + 20); }, false},
    {"FileEndsInLastSectionEntry", noImageEdit,
     [](std::vector<uint8_t>& f) { f.resize(0x80 + 24 + 0xE0 + 39); }, false},
    {"RawSizeZero", [](PeImage& i) { i.sections[0].raw.clear(); }, noFileEdit, true},
    {"RawSizeZeroPointingPastEndOfFile",  // nothing to read, so nothing comes up short
     [](PeImage& i) {
         i.sections[0].raw.clear();
         i.sections[0].pointerToRawData = 0x7FFFFFF0;
     },
     noFileEdit, true},
    {"RawBytesToEndOfFile", [](PeImage& i) { i.sections[0].sizeOfRawData = 0x200; }, noFileEdit,
     true},
    {"RawBytesOneBytePastEndOfFile", [](PeImage& i) { i.sections[0].sizeOfRawData = 0x201; },
     noFileEdit, false},
};

void PrintTo(const HeaderCase& c, std::ostream* out) { *out << c.name; }

class HeaderTest : public LoaderTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderTest, LoadsOrRefuses) {
    PeImage image = basicImage();
    GetParam().editImage(image);
    std::vector<uint8_t> file = image.build();
    GetParam().editFile(file);
    EXPECT_EQ(load(file) != nullptr, GetParam().loads);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderTest, ::testing::ValuesIn(headerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Guest memory layout -------------------------------------------------------
// The stack takes stackReserve bytes from 0x100000; the sections must follow it
// in ascending order without overlapping. The base image's stack ends at
// 0x200000 and its .text spans 0x401000-0x402000.

const HeaderCase layoutCases[] = {
    {"StackEndsAtFirstSection", [](PeImage& i) { i.stackReserve = 0x301000; }, noFileEdit, true},
    {"StackReachesIntoFirstSection", [](PeImage& i) { i.stackReserve = 0x301001; }, noFileEdit,
     false},
    {"StackEndPast4GiB", [](PeImage& i) { i.stackReserve = 0xFFFFFFFF; }, noFileEdit, false},
    {"SectionBelowStack", [](PeImage& i) { i.imageBase = 0; }, noFileEdit, false},
    {"SectionsTouching", [](PeImage& i) { i.addSection(0x2000, 0x1000, {1}); }, noFileEdit, true},
    {"SectionsOverlapping", [](PeImage& i) { i.addSection(0x1FFF, 0x1000, {1}); }, noFileEdit,
     false},
    {"EmptySectionInsideAnother", [](PeImage& i) { i.addSection(0x1800, 0, {}); }, noFileEdit,
     false},
    {"SectionsDescending", [](PeImage& i) { i.addSection(0, 0x1000, {1}); }, noFileEdit, false},
    // Guest memory ends where the mapped block starts, at 0xE0000000; the
    // reserved addresses of native functions lie above it.
    {"SectionFarAboveTheOneBefore", [](PeImage& i) { i.addSection(0x8FC00000, 0x1000, {1}); },
     noFileEdit, true},
    {"SectionEndingAtMappedBlock", [](PeImage& i) { i.addSection(0xDFBFF000, 0x1000, {1}); },
     noFileEdit, true},
    {"SectionReachingMappedBlock", [](PeImage& i) { i.addSection(0xDFBFF000, 0x1001, {1}); },
     noFileEdit, false},
    {"SectionInsideMappedBlock", [](PeImage& i) { i.addSection(0xDFC00000, 0x1000, {1}); },
     noFileEdit, false},
    {"SectionInReservedRange", [](PeImage& i) { i.addSection(0xFFBFF000, 0x1000, {1}); },
     noFileEdit, false},
    // Its end, 2^32 + 1, would be 1 in 32 bits: below the mapped block.
    {"SectionEndPast4GiB", [](PeImage& i) { i.addSection(0xFFBFF000, 0x1001, {1}); }, noFileEdit,
     false},
    {"StackEndingAtMappedBlock",
     [](PeImage& i) {
         i.sections.clear();
         i.stackReserve = 0xE0000000 - 0x100000;
     },
     noFileEdit, true},
    {"StackReachingMappedBlock",
     [](PeImage& i) {
         i.sections.clear();
         i.stackReserve = 0xE0000000 - 0x100000 + 1;
     },
     noFileEdit, false},
    // Two sections that both hold a directory overlap.
    {"TwoSectionsHoldingTheExportDirectory",
     [](PeImage& i) {
         i.addSection(0x2000, 0x1000, exportDirectory(0x2000, {.functionRvas = {0x1010}}));
         i.addSection(0x1800, 0x1000, std::vector<uint8_t>(0x800 + 40));
         i.directories[exportEntry] = {0x2000, 40};
     },
     noFileEdit, false},
};

INSTANTIATE_TEST_SUITE_P(Layout, HeaderTest, ::testing::ValuesIn(layoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoaderTest, MissingFileGivesNoProgram) {
    EXPECT_EQ(loadProgram("/nonexistent/folder/Quorlen.exe"), nullptr);
}

TEST_F(LoaderTest, FileThatCannotBeReadGivesNoProgram) {
    // A folder opens as a stream here, and reading it fails.
    EXPECT_EQ(loadProgram(std::filesystem::temp_directory_path().string()), nullptr);
}

TEST_F(LoaderTest, TakesHeaderFieldsAndEverySection) {
    PeImage image = basicImage();
    image.entryPoint = 0x1234;
    image.stackReserve = 0x300000;
    image.majorSubsystemVersion = 5;
    image.minorSubsystemVersion = 1;
    image.addSection(0x2000, 0x10, {1, 2, 3}, dataSection);           // raw shorter
    image.addSection(0x3000, 2, {4, 5, 6, 7}, dataSection);           // raw longer
    image.addSection(0x4000, 0, {8, 9}, dataSection);                 // no virtual size
    image.addSection(0x5000, 4, {}, dataSection | 0x80);              // raw size 0
    auto program = load(image);
    ASSERT_NE(program, nullptr);

    EXPECT_EQ(program->entryPoint, imageBase + 0x1234);
    EXPECT_EQ(program->stackReserve, 0x300000u);
    EXPECT_EQ(program->subsystemMajorVersion, 5);
    EXPECT_EQ(program->subsystemMinorVersion, 1);
    ASSERT_EQ(program->sections.size(), 5u);
    const std::vector<uint8_t> expectedData[] = {
        std::vector<uint8_t>{0x55, 0x89, 0xE5, 0xC3},
        {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {4, 5},
        {},
        {0, 0, 0, 0},
    };
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(program->sections[i].address, imageBase + 0x1000 * (i + 1)) << i;
        EXPECT_EQ(program->sections[i].isCode, i == 0) << i;
    }
    EXPECT_EQ(program->sections[0].data.size(), 0x1000u);  // then zeros
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(program->sections[i].data, expectedData[i]) << i;

    // No directory: three empty tables and no TLS.
    EXPECT_TRUE(program->exportsByName().empty());
    EXPECT_TRUE(program->exportsByOrdinal().empty());
    EXPECT_TRUE(program->imports().empty());
    EXPECT_FALSE(program->tls.present);
}

TEST_F(LoaderTest, AddressesWrapAt4GiB) {
    PeImage image = basicImage();
    image.imageBase = 0xFFFFF000;
    image.sections[0].virtualAddress = 0x201000;  // right above the stack
    image.entryPoint = 0x201010;
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->sections[0].address, 0x200000u);
    EXPECT_EQ(program->entryPoint, 0x200010u);
}

// ---- Code digest ---------------------------------------------------------------

std::string digestOf(const std::vector<uint8_t>& bytes) { return toLowerHex(murmurDigest(bytes)); }

TEST_F(LoaderTest, CodeHashCoversRawBytesNotSectionData) {
    PeImage image;
    image.addSection(0x1000, 0x100, {0xC3, 0xCC, 0x90}, codeSection);  // VirtualSize > raw
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->codeHash, digestOf({0xC3, 0xCC, 0x90}));
    EXPECT_NE(program->codeHash, digestOf(program->sections[0].data));

    image.sections[0].virtualSize = 1;  // VirtualSize < raw: the digest still covers all of it
    program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->codeHash, digestOf({0xC3, 0xCC, 0x90}));
}

TEST_F(LoaderTest, LastCodeSectionDecidesCodeHash) {
    PeImage image;
    image.addSection(0x1000, 0x1000, {1, 1, 1}, codeSection);
    image.addSection(0x2000, 0x1000, {2, 2, 2}, codeSection);
    image.addSection(0x3000, 0x1000, {3, 3, 3}, dataSection);
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->codeHash, digestOf({2, 2, 2}));
}

TEST_F(LoaderTest, CodeHashWithoutCodeOrCodeBytes) {
    PeImage image;
    image.addSection(0x1000, 0x1000, {1, 2, 3}, dataSection);
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->codeHash, "");

    image.addSection(0x2000, 0x1000, {}, codeSection);
    program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->codeHash, std::string(32, '0'));
}

// ---- Export directory --------------------------------------------------------------

PeImage imageWithExports(const ExportLayout& layout) {
    PeImage image = basicImage();
    std::vector<uint8_t> directory = exportDirectory(rdata, layout);
    image.directories[exportEntry] = {rdata, uint32_t(directory.size())};
    image.addSection(rdata, 0x1000, directory).name = ".rdata";
    return image;
}

TEST_F(LoaderTest, EmptyExportDirectory) {
    PeImage image = imageWithExports({});
    for (bool tablesAtRvaZero : {false, true}) {
        // Empty tables at RVA 0 translate to an offset near 4 GiB: nothing is read there.
        if (tablesAtRvaZero)
            for (size_t field : {28, 32, 36}) put32(image.sections[1].raw, field, 0);
        auto program = load(image);
        ASSERT_NE(program, nullptr) << tablesAtRvaZero;
        EXPECT_TRUE(program->exportsByName().empty());
        EXPECT_TRUE(program->exportsByOrdinal().empty());
    }
}

TEST_F(LoaderTest, EveryFunctionSlotGetsAnOrdinalFromBase) {
    auto program = load(imageWithExports({.base = 1, .functionRvas = {0x1010, 0, 0x1030}}));
    ASSERT_NE(program, nullptr);
    ExportsByOrdinal expected = {{1, imageBase + 0x1010}, {2, imageBase}, {3, imageBase + 0x1030}};
    EXPECT_EQ(program->exportsByOrdinal(), expected);
}

TEST_F(LoaderTest, NameOrdinalIndexesFunctionTableDirectly) {
    auto program = load(imageWithExports({
        .base = 5,
        .functionRvas = {0x1010, 0x1020, 0x1030},
        .names = {{"third", 2}, {"twice", 0}, {"twice", 1}},  // the later of a name wins
    }));
    ASSERT_NE(program, nullptr);
    ExportsByName expected = {{"third", imageBase + 0x1030}, {"twice", imageBase + 0x1020}};
    EXPECT_EQ(program->exportsByName(), expected);
    EXPECT_EQ(program->exportsByOrdinal().begin()->first, 5);
}

TEST_F(LoaderTest, ExportInTheExportSectionIsRefused) {
    // Taken for a forwarder: code or data beside the export directory.
    EXPECT_EQ(load(imageWithExports({.functionRvas = {0x1010, rdata + 0x800}})), nullptr);
}

TEST_F(LoaderTest, NameOrdinalOutsideFunctionTableRaises) {
    PeImage image = imageWithExports({.functionRvas = {0x1010, 0x1020}, .names = {{"f", 2}}});
    EXPECT_THROW(load(image), app::RangeError);
    // Names are read one at a time: a name table that runs past the end of
    // the file fails only at its first missing entry, after the bad ordinal.
    put32(image.sections[1].raw, exportNameCountField, 200);
    EXPECT_THROW(load(image), app::RangeError);
}

TEST_F(LoaderTest, ExportNameCutByEndOfFile) {
    PeImage image = imageWithExports({.functionRvas = {0x1010}, .names = {{"name", 0}}});
    std::vector<uint8_t> file = image.build();
    file.resize(image.rawOffset(1) + image.sections[1].raw.size() - 1);  // drop the zero byte
    EXPECT_EQ(load(file), nullptr);
}

// ---- Import directory ----------------------------------------------------------------

PeImage imageWithImports(ImportLayout layout) {
    PeImage image = basicImage();
    image.directories[importEntry] = {rdata, layout.descriptorsSize};
    image.addSection(rdata, 0x1000, std::move(layout.bytes)).name = ".idata";
    return image;
}

TEST_F(LoaderTest, ImportSlotsCountOrdinalEntries) {
    ImportLayout layout = importDirectory(rdata, {
        {"KERNEL32.dll", {"#7", "A", "B"}},
        {"ordinals.dll", {"#1", "#2"}},  // nothing by name: not listed
    });
    uint32_t slots = imageBase + layout.firstThunks[0];
    auto program = load(imageWithImports(layout));
    ASSERT_NE(program, nullptr);
    Imports expected = {{"KERNEL32.dll", {{"A", slots + 4}, {"B", slots + 8}}}};
    EXPECT_EQ(program->imports(), expected);
}

TEST_F(LoaderTest, LaterDescriptorOfSameDllReplacesTable) {
    ImportLayout layout = importDirectory(rdata, {{"user32.dll", {"A"}}, {"user32.dll", {"B"}}});
    uint32_t secondSlots = imageBase + layout.firstThunks[1];
    auto program = load(imageWithImports(layout));
    ASSERT_NE(program, nullptr);
    Imports expected = {{"user32.dll", {{"B", secondSlots}}}};
    EXPECT_EQ(program->imports(), expected);
}

TEST_F(LoaderTest, ZeroLookupTableEndsDescriptors) {
    ImportLayout layout = importDirectory(rdata, {{"user32.dll", {"A"}}});
    put32(layout.bytes, 0, 0);  // OriginalFirstThunk 0, FirstThunk still set
    auto program = load(imageWithImports(layout));
    ASSERT_NE(program, nullptr);
    EXPECT_TRUE(program->imports().empty());
}

TEST_F(LoaderTest, ImportSizeZeroReadsNoDescriptor) {
    PeImage image = imageWithImports(importDirectory(rdata, {{"user32.dll", {"A"}}}));
    image.directories[importEntry].size = 0;
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    EXPECT_TRUE(program->imports().empty());
}

TEST_F(LoaderTest, ImportSizeBeyondTheFileStillStopsAtTheZeroDescriptor) {
    ImportLayout layout = importDirectory(rdata, {{"user32.dll", {"A"}}});
    uint32_t slots = imageBase + layout.firstThunks[0];
    PeImage image = imageWithImports(layout);
    image.directories[importEntry].size = 0xFFFFFFF0;
    auto program = load(image);
    ASSERT_NE(program, nullptr);
    Imports expected = {{"user32.dll", {{"A", slots}}}};
    EXPECT_EQ(program->imports(), expected);
}

TEST_F(LoaderTest, ImportLookupTableCutByEndOfFile) {
    ImportLayout layout = importDirectory(rdata, {{"user32.dll", {"A"}}});
    put32(layout.bytes, 0, rdata + 0x1000 - 8);  // lookup table at the very end of the raw bytes
    PeImage image = imageWithImports(layout);
    image.sections[1].raw.resize(0x1000, 0xEE);  // entries never 0 up to the end
    EXPECT_EQ(load(image), nullptr);
}

// ---- TLS directory -----------------------------------------------------------------

PeImage imageWithTls(const TlsLayout& layout, uint32_t directorySize = 24) {
    PeImage image = basicImage();
    image.directories[tlsEntry] = {rdata, directorySize};
    image.addSection(rdata, 0x1000, tlsDirectory(layout)).name = ".tls";
    return image;
}

TEST_F(LoaderTest, TlsFieldsAsStored) {
    // Size 0 still counts as present; End below Start gives a wrapped size.
    auto program = load(imageWithTls({.startAddress = 0x403000,
                                      .endAddress = 0x402000,
                                      .indexAddress = 0x404000,
                                      .callbacksAddress = 0x405000,
                                      .zeroFillSize = 0x20},
                                     0));
    ASSERT_NE(program, nullptr);
    const TlsInfo& tls = program->tls;
    EXPECT_TRUE(tls.present);
    EXPECT_EQ(tls.startAddress, 0x403000u);
    EXPECT_EQ(tls.size, 0xFFFFF000u);
    EXPECT_EQ(tls.indexAddress, 0x404000u);
    EXPECT_EQ(tls.callbacksAddress, 0x405000u);
    EXPECT_EQ(tls.zeroFillSize, 0x20u);
}

TEST_F(LoaderTest, TlsWithCharacteristicsIsRefused) {
    EXPECT_EQ(load(imageWithTls({.characteristics = 0x00300000})), nullptr);
}

// ---- Sizes and counts that the file cannot hold ------------------------------------

// Each would otherwise allocate up to gigabytes before the read came up short.
struct OversizeCase {
    const char* name;
    PeImage (*make)();
};

PeImage withRawSize(uint32_t pointer, uint32_t size) {
    PeImage image = basicImage();
    image.sections[0].pointerToRawData = pointer;
    image.sections[0].sizeOfRawData = size;
    return image;
}

PeImage withExportField(size_t field, uint32_t value) {
    PeImage image = imageWithExports({.functionRvas = {0x1010}, .names = {{"f", 0}}});
    put32(image.sections[1].raw, field, value);
    return image;
}

const OversizeCase oversizeCases[] = {
    {"RawSizeHuge", [] { return withRawSize(0x200, 0x7FFFFFFF); }},
    {"RawEndWrapsIn32Bits", [] { return withRawSize(0x200, 0xFFFFFF00); }},  // ends at 0x100
    {"FunctionCountHuge", [] { return withExportField(exportFunctionCountField, 0x7FFFFFFF); }},
    {"FunctionCountNegative", [] { return withExportField(exportFunctionCountField, 0xFFFFFFFF); }},
    {"NameCountHuge", [] { return withExportField(exportNameCountField, 0x7FFFFFFF); }},
    {"NameCountNegative", [] { return withExportField(exportNameCountField, 0x80000000); }},
};

void PrintTo(const OversizeCase& c, std::ostream* out) { *out << c.name; }

class OversizeTest : public LoaderTest, public ::testing::WithParamInterface<OversizeCase> {};

TEST_P(OversizeTest, GivesNoProgram) { EXPECT_EQ(load(GetParam().make()), nullptr); }

INSTANTIATE_TEST_SUITE_P(Cases, OversizeTest, ::testing::ValuesIn(oversizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The stream ------------------------------------------------------------------

size_t openDescriptorCount() {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return size_t(std::distance(begin(entries), end(entries)));
}

// A stream that gives the bytes of a whole image, then, if failing, a read
// error where the end of the file would be.
struct FailingStream {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    bool failing = false;
};
FailingStream failingStream;

ssize_t readFailingStream(void*, char* buffer, size_t size) {
    FailingStream& s = failingStream;
    if (s.at == s.bytes.size()) {
        if (!s.failing) return 0;
        errno = EIO;
        return -1;
    }
    size_t n = std::min(size, s.bytes.size() - s.at);
    std::copy_n(s.bytes.begin() + ptrdiff_t(s.at), n, buffer);
    s.at += n;
    return ssize_t(n);
}

std::FILE* openFailingStream(const std::string&, const char*) {
    failingStream.at = 0;
    return fopencookie(nullptr, "rb", {readFailingStream, nullptr, nullptr, nullptr});
}

TEST_F(LoaderTest, StreamErrorAfterTheWholeImageGivesNoProgram) {
    failingStream.bytes = basicImage().build();
    setFileOpenerForTests(openFailingStream);
    failingStream.failing = false;
    EXPECT_NE(loadProgram("Quorlen.exe"), nullptr);  // the bytes alone make a Program
    failingStream.failing = true;
    EXPECT_EQ(loadProgram("Quorlen.exe"), nullptr);
    setFileOpenerForTests(nullptr);
}

TEST_F(LoaderTest, ClosesTheFileOnEveryWayOut) {
    size_t before = openDescriptorCount();
    EXPECT_NE(load(basicImage()), nullptr);
    EXPECT_EQ(load(withRawSize(0x200, 0x1000000)), nullptr);
    EXPECT_THROW(load(imageWithExports({.functionRvas = {0x1010}, .names = {{"f", 1}}})),
                 app::RangeError);
    EXPECT_EQ(openDescriptorCount(), before);
}

}  // namespace
