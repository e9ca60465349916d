// Guest addresses and values, and the program's exception base.
//
// Every guest quantity has its own plain value type with one unsigned field,
// so a guest address never mixes with a host pointer or a value of another
// width by accident. All arithmetic wraps exactly as the guest processor's.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace app {

// ---------------------------------------------------------------------------
// Exceptions
// ---------------------------------------------------------------------------

// The common base of the program's own exceptions: a message, a kind and a
// recorded source location, which together form the description that the log
// shows for an unhandled error.
class Exception {
public:
    Exception(std::string message, const char* file, int line)
        : message_(std::move(message)), file_(file), line_(line) {}
    virtual ~Exception() = default;

    const std::string& message() const { return message_; }
    const char* file() const { return file_; }
    int line() const { return line_; }
    virtual const char* kind() const = 0;

    // "<kind>@<file>(<line>): <message>"
    std::string describe() const;

private:
    std::string message_;
    const char* file_;
    int line_;
};

// Guest behaviour that the system does not support. Its location is fixed
// wherever it is raised.
class ProgramException : public Exception {
public:
    explicit ProgramException(std::string message)
        : Exception(std::move(message), "types", 10) {}
    const char* kind() const override { return "ProgramException"; }
};

// A failed index or key test: a host error, distinct from ProgramException,
// that the guest run lets pass to the top level.
class RangeError : public Exception {
public:
    explicit RangeError(std::string message, const char* file = __builtin_FILE(),
                        int line = __builtin_LINE())
        : Exception(std::move(message), file, line) {}
    const char* kind() const override { return "RangeError"; }
};

// printf-style formatting into a std::string. Integer and string directives
// only: floating-point formatting disturbs the host x87 unit.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// ---------------------------------------------------------------------------
// Guest values
// ---------------------------------------------------------------------------

struct Val8 {
    uint8_t v;
    uint32_t toUint() const { return v; }
    friend bool operator==(Val8, Val8) = default;
};

struct Val16 {
    uint16_t v;
    uint32_t toUint() const { return v; }
    friend bool operator==(Val16, Val16) = default;
};

struct Val32 {
    uint32_t v;
    static Val32 fromUint(uint32_t value) { return Val32{value}; }
    uint32_t toUint() const { return v; }
    // Returns the old value, then adds 1 (wrapping).
    Val32 postIncrement() { Val32 old = *this; v += 1; return old; }
    friend bool operator==(Val32, Val32) = default;
};

struct Val64 {
    uint64_t v;
    friend bool operator==(Val64, Val64) = default;
};

// ---------------------------------------------------------------------------
// Guest addresses
// ---------------------------------------------------------------------------

struct Addr {
    uint32_t v;

    static Addr fromUint(uint32_t value) { return Addr{value}; }
    uint32_t toUint() const { return v; }
    bool isNull() const { return v == 0; }

    // The wrapped difference read as signed: negative when this is below
    // other. Not a total order; never key a table by it.
    int32_t opCmp(Addr other) const { return static_cast<int32_t>(v - other.v); }

    // Rounds up to a multiple of 4096, wrapping.
    void alignUp() {
        uint32_t rest = v % 4096u;
        if (rest != 0) v = v + 4096u - rest;
    }

    friend bool operator==(Addr, Addr) = default;
};

// Addresses at or above this are reserved for bound native functions and the
// run loop's return sentinel; they are never memory.
constexpr uint32_t reservedAddressStart = 0xF0000000u;

inline Addr toAddr(Val32 v) { return Addr{v.v}; }
inline Addr addrAdd(Addr a, uint32_t n) { return Addr{a.v + n}; }
inline Addr addrAddSize(Addr a, uint64_t n) { return Addr{a.v + static_cast<uint32_t>(n)}; }
inline int32_t addrDiff(Addr base, Addr a) { return static_cast<int32_t>(a.v - base.v); }
inline void addInPlace(Addr& x, uint32_t n) { x.v += n; }
inline void addInPlace(Val32& x, uint32_t n) { x.v += n; }

// Whether [addr, addr + length) lies inside [start, start + size). Both sums
// wrap and both comparisons are unsigned; a range of length 0 lies inside a
// block when its address is from the block's start up to its end inclusive.
inline bool rangeContains(Addr addr, uint32_t length, Addr start, uint32_t size) {
    return addr.v >= start.v && start.v + size >= addr.v + length;
}

inline bool isMemoryAddress(Addr a) { return a.v < reservedAddressStart; }

// ---------------------------------------------------------------------------
// Operations on values
// ---------------------------------------------------------------------------

inline Val8 val8FromUint(uint32_t v) { return Val8{static_cast<uint8_t>(v)}; }
inline Val8 val8Add(Val8 a, Val8 b) { return Val8{static_cast<uint8_t>(a.v + b.v)}; }
inline Val8 val8Sub(Val8 a, Val8 b) { return Val8{static_cast<uint8_t>(a.v - b.v)}; }
inline Val8 val8And(Val8 a, Val8 b) { return Val8{static_cast<uint8_t>(a.v & b.v)}; }
inline Val8 val8Or(Val8 a, Val8 b) { return Val8{static_cast<uint8_t>(a.v | b.v)}; }
inline Val8 val8Xor(Val8 a, Val8 b) { return Val8{static_cast<uint8_t>(a.v ^ b.v)}; }
inline Val16 val8SignExtend16(Val8 v) {
    return Val16{static_cast<uint16_t>(static_cast<uint16_t>(static_cast<int8_t>(v.v)))};
}
inline Val32 val8SignExtend32(Val8 v) {
    return Val32{static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(v.v)))};
}
// The same host bytes seen as guest bytes; no copy.
inline std::span<Val8> asVal8Slice(std::span<uint8_t> bytes) {
    return {reinterpret_cast<Val8*>(bytes.data()), bytes.size()};
}

inline Val16 val16FromUint(uint32_t v) { return Val16{static_cast<uint16_t>(v)}; }
inline Val16 val16Add(Val16 a, Val16 b) { return Val16{static_cast<uint16_t>(a.v + b.v)}; }
inline Val16 val16Sub(Val16 a, Val16 b) { return Val16{static_cast<uint16_t>(a.v - b.v)}; }
inline Val16 val16And(Val16 a, Val16 b) { return Val16{static_cast<uint16_t>(a.v & b.v)}; }
inline Val16 val16Or(Val16 a, Val16 b) { return Val16{static_cast<uint16_t>(a.v | b.v)}; }
// The count is taken mod 32, so counts 16 to 31 give 0 and 32 gives v.
inline Val16 val16Shl(Val16 v, uint32_t count) {
    return Val16{static_cast<uint16_t>(static_cast<uint32_t>(v.v) << (count % 32u))};
}
inline Val16 val16Shr(Val16 v, uint32_t count) {
    return Val16{static_cast<uint16_t>(static_cast<uint32_t>(v.v) >> (count % 32u))};
}

inline Val32 val32FromVal16(Val16 v) { return Val32{v.v}; }
inline Val32 val32AddWithCarry(Val32 a, Val32 b, bool carry) {
    return Val32{a.v + b.v + (carry ? 1u : 0u)};
}
inline Val32 val32Sub(Val32 a, Val32 b) { return Val32{a.v - b.v}; }
inline Val32 val32And(Val32 a, Val32 b) { return Val32{a.v & b.v}; }
inline Val32 val32Or(Val32 a, Val32 b) { return Val32{a.v | b.v}; }
inline Val32 val32Xor(Val32 a, Val32 b) { return Val32{a.v ^ b.v}; }
inline float val32ToFloat(Val32 v) {
    float f;
    std::memcpy(&f, &v.v, sizeof f);
    return f;
}

inline Val64 val64FromUlong(uint64_t v) { return Val64{v}; }
inline Val64 val64FromDouble(double d) {
    Val64 r;
    std::memcpy(&r.v, &d, sizeof d);
    return r;
}
inline double val64ToDouble(Val64 v) {
    double d;
    std::memcpy(&d, &v.v, sizeof d);
    return d;
}

}  // namespace app
