#include "peloader/program.h"

#include <algorithm>
#include <cstring>

namespace peloader {

Program::Program(uint32_t entryPoint, uint32_t stackReserve, uint16_t subsystemMajorVersion,
                 uint16_t subsystemMinorVersion, std::vector<Section> sections,
                 std::string codeHash, ExportsByName exportsByName,
                 ExportsByOrdinal exportsByOrdinal, Imports imports, TlsInfo tls)
    : entryPoint(entryPoint),
      stackReserve(stackReserve),
      subsystemMajorVersion(subsystemMajorVersion),
      subsystemMinorVersion(subsystemMinorVersion),
      sections(std::move(sections)),
      codeHash(std::move(codeHash)),
      tls(tls),
      exportsByName_(std::move(exportsByName)),
      exportsByOrdinal_(std::move(exportsByOrdinal)),
      imports_(std::move(imports)) {}

const ExportsByName& Program::exportsByName() const { return exportsByName_; }
const ExportsByOrdinal& Program::exportsByOrdinal() const { return exportsByOrdinal_; }
const Imports& Program::imports() const { return imports_; }

Section makeSection(uint32_t address, uint32_t virtualSize, std::span<const uint8_t> raw,
                    bool isCode) {
    Section section{address, std::vector<uint8_t>(virtualSize), isCode};
    size_t copied = std::min<size_t>(raw.size(), virtualSize);
    std::copy_n(raw.begin(), copied, section.data.begin());
    return section;
}

// ---------------------------------------------------------------------------
// MurmurHash3, x64 128-bit variant
// ---------------------------------------------------------------------------

namespace {

constexpr uint64_t c1 = 0x87c37b91114253d5ULL;
constexpr uint64_t c2 = 0x4cf5ad432745937fULL;

uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

uint64_t fmix64(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return k;
}

uint64_t loadLittleEndian64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

void storeLittleEndian64(uint8_t* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t mixK1(uint64_t k1) { return rotl64(k1 * c1, 31) * c2; }
uint64_t mixK2(uint64_t k2) { return rotl64(k2 * c2, 33) * c1; }

}  // namespace

std::array<uint8_t, 16> murmurHash3x64_128(std::span<const uint8_t> bytes, uint32_t seed) {
    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    const size_t blockCount = length / 16;
    uint64_t h1 = seed;
    uint64_t h2 = seed;

    for (size_t i = 0; i < blockCount; ++i) {
        uint64_t k1 = loadLittleEndian64(data + 16 * i);
        uint64_t k2 = loadLittleEndian64(data + 16 * i + 8);
        h1 ^= mixK1(k1);
        h1 = (rotl64(h1, 27) + h2) * 5 + 0x52dce729;
        h2 ^= mixK2(k2);
        h2 = (rotl64(h2, 31) + h1) * 5 + 0x38495ab5;
    }

    // The last 0 to 15 bytes: bytes 0-7 feed k1, bytes 8-15 feed k2.
    const uint8_t* tail = data + 16 * blockCount;
    const size_t tailLength = length & 15;
    uint64_t k1 = 0;
    uint64_t k2 = 0;
    for (size_t i = tailLength; i > 8; --i) k2 = (k2 << 8) | tail[i - 1];
    for (size_t i = std::min<size_t>(tailLength, 8); i > 0; --i) k1 = (k1 << 8) | tail[i - 1];
    if (tailLength > 8) h2 ^= mixK2(k2);
    if (tailLength > 0) h1 ^= mixK1(k1);

    h1 ^= length;
    h2 ^= length;
    h1 += h2;
    h2 += h1;
    h1 = fmix64(h1);
    h2 = fmix64(h2);
    h1 += h2;
    h2 += h1;

    std::array<uint8_t, 16> digest{};
    storeLittleEndian64(digest.data(), h1);
    storeLittleEndian64(digest.data() + 8, h2);
    return digest;
}

std::array<uint8_t, 16> murmurDigest(std::span<const uint8_t> bytes) {
    return murmurHash3x64_128(bytes, 0);
}

std::string toLowerHex(const std::array<uint8_t, 16>& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

}  // namespace peloader
