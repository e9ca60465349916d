// The guest's registers and flags: the one machine state record and the
// 8- and 16-bit register views.
#include "machine/machineState.h"
#include "machine/machineState_internal.h"

namespace machine {

namespace {
constexpr MachineState initialState = {Addr{0}, {}, false, false, false, false, false,
                                       initialFpuControlWord, false, false};
}  // namespace

MachineState state = initialState;

void detail::resetRegisters() { state = initialState; }

Val8 getReg8(uint32_t index) {
    return Val8{static_cast<uint8_t>(index < 4 ? state.reg[index].v : state.reg[index - 4].v >> 8)};
}

void setReg8(uint32_t index, Val8 value) {
    if (index < 4)
        state.reg[index].v = (state.reg[index].v & 0xFFFFFF00u) | value.v;
    else
        state.reg[index - 4].v = (state.reg[index - 4].v & 0xFFFF00FFu) | (uint32_t{value.v} << 8);
}

Val16 getReg16(uint32_t index) { return Val16{static_cast<uint16_t>(state.reg[index].v)}; }

void setReg16(uint32_t index, Val16 value) {
    state.reg[index].v = (state.reg[index].v & 0xFFFF0000u) | value.v;
}

}  // namespace machine
