// The guest's static thread-local storage: one TLS slot array with one entry,
// pointing at a copy of the image's TLS template.
#include "machine/process.h"

#include <cstring>

#include "peloader/program.h"
#include "machine/machineState.h"

namespace machine {

void setUpThreadLocalStorage(const peloader::TlsInfo& tls) {
    writeMemory32(false, Addr{tls.indexAddress}, Val32{0});
    Addr slots = allocate(4);
    writeMemory32(true, Addr{0x2C}, Val32{slots.v});
    uint32_t total = tls.size + tls.zeroFillSize;  // wraps like the guest's own sum
    Addr block = allocate(total);
    writeMemory32(false, slots, Val32{block.v});

    std::span<uint8_t> from = hostSlice(Addr{tls.startAddress}, tls.size);
    // A zero fill that wrapped the total leaves a block too small for the template.
    if (total < tls.size)
        throw app::RangeError(app::format("TLS template of %u bytes does not fit a block of %u",
                                          tls.size, total));
    std::span<uint8_t> to = hostSlice(block, total);
    std::memmove(to.data(), from.data(), tls.size);
    std::memset(to.data() + tls.size, 0, total - tls.size);
    // The TLS callbacks are not run.
}

}  // namespace machine
