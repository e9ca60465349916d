#include "platform/string.h"

#include <cstring>

#include "machine/machineState.h"
#include "platform/handle.h"

namespace platform {

std::string getString(Addr address) {
    if (address.isNull()) return {};
    std::span<const uint8_t> rest = machine::hostSliceToEnd(address);
    const void* zero = std::memchr(rest.data(), 0, rest.size());
    if (!zero)
        throw app::ProgramException(
            "Buffer passed to getString() doesn't contain a null-terminated string");
    size_t length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - rest.data());
    return toAsciiString(rest.first(length));
}

std::string toAsciiString(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes)
        if (isUnsupportedChar(byte)) throw app::ProgramException("Unsupported character in string");
    return std::string(bytes.begin(), bytes.end());
}

bool isUnsupportedChar(uint8_t byte) { return byte > 126; }

std::string stringArg(Addr slot) {
    return getString(app::toAddr(machine::readMemory32(false, slot)));
}

std::string stringArg(uint32_t k) { return stringArg(argSlot(k)); }

}  // namespace platform
