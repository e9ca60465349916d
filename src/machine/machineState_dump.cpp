// The machine state dump: registers, flags and the bytes at the stack top,
// written to the log when a guest run fails.
#include "log.h"
#include "machine/machineState.h"

namespace machine {

void dumpState() {
    app::log("Registers:");
    app::logEip(state.eip.v);
    app::logEax(state.eax.v);
    app::logEcx(state.ecx.v);
    app::logEdx(state.edx.v);
    app::logEbx(state.ebx.v);
    app::logEsp(state.esp.v);
    app::logEbp(state.ebp.v);
    app::logEsi(state.esi.v);
    app::logEdi(state.edi.v);
    app::logCf(state.cf);
    app::logDf(state.df);
    app::logOf(state.of);
    app::logSf(state.sf);
    app::logZf(state.zf);
    app::logFpuControlWord(state.fpuControlWord);
    if (app::isMemoryAddress(toAddr(state.esp))) {
        app::log("Stack:");
        dumpMemory(toAddr(state.esp));
    }
    // On disk before anything else can go wrong on the way to the box.
    app::flushLog();
}

void dumpMemory(Addr address) {
    if (!isValidAddress(address)) {
        app::logInvalidAddress(address.v);
        return;
    }
    std::span<uint8_t> bytes = hostSliceToEnd(address);
    for (size_t offset = 0; offset < bytes.size() && offset < 128; offset += 16) {
        std::string line = app::format("0x%x ", address.v + static_cast<uint32_t>(offset));
        for (size_t j = 0; j < 16 && offset + j < bytes.size(); ++j)
            line += app::format(" %02x", static_cast<unsigned>(bytes[offset + j]));
        app::log(line);
    }
}

}  // namespace machine
