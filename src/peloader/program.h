// The loaded game executable: what the PE reader makes of the file.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace peloader {

// The guest stack's lowest address: the image set-up places the stackReserve
// bytes of stack here, below every section.
inline constexpr uint32_t stackStart = 0x100000;
// Where the guest's mapped block lies (a locked layer's pixels); the reserved
// addresses of native functions follow from 0xF0000000. The stack and every
// section end at or below it.
inline constexpr uint32_t mappedMemoryStart = 0xE0000000;

struct Section {
    uint32_t address;           // ImageBase + VirtualAddress, wrapping
    std::vector<uint8_t> data;  // exactly VirtualSize bytes: raw bytes, then zeros
    bool isCode;                // Characteristics bit 0x20
};

struct TlsInfo {
    bool present;
    uint32_t startAddress;
    uint32_t size;  // EndAddressOfRawData - StartAddressOfRawData, wrapping
    uint32_t indexAddress;
    uint32_t callbacksAddress;
    uint32_t zeroFillSize;
};

using ExportsByName = std::map<std::string, uint32_t>;
using ExportsByOrdinal = std::map<int32_t, uint32_t>;
// DLL name as stored -> function name as stored -> guest address of its slot.
using Imports = std::map<std::string, std::map<std::string, uint32_t>>;

class Program {
public:
    Program(uint32_t entryPoint, uint32_t stackReserve, uint16_t subsystemMajorVersion,
            uint16_t subsystemMinorVersion, std::vector<Section> sections, std::string codeHash,
            ExportsByName exportsByName, ExportsByOrdinal exportsByOrdinal, Imports imports,
            TlsInfo tls);
    const ExportsByName& exportsByName() const;
    const ExportsByOrdinal& exportsByOrdinal() const;
    const Imports& imports() const;

    uint32_t entryPoint;
    uint32_t stackReserve;
    uint16_t subsystemMajorVersion;
    uint16_t subsystemMinorVersion;
    std::vector<Section> sections;
    std::string codeHash;
    TlsInfo tls;

private:
    ExportsByName exportsByName_;
    ExportsByOrdinal exportsByOrdinal_;
    Imports imports_;
};

Section makeSection(uint32_t address, uint32_t virtualSize, std::span<const uint8_t> raw,
                    bool isCode);
// MurmurHash3_x64_128 with seed 0: h1 then h2, each little-endian.
std::array<uint8_t, 16> murmurDigest(std::span<const uint8_t> bytes);
// The same hash with any seed (murmurDigest is seed 0).
std::array<uint8_t, 16> murmurHash3x64_128(std::span<const uint8_t> bytes, uint32_t seed);
std::string toLowerHex(const std::array<uint8_t, 16>& digest);

}  // namespace peloader
