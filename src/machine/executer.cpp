// Instruction decoding and dispatch. (Placeholder until the decoder lands:
// every byte is unknown.)
#include "machine/executer.h"

#include "machine/machineState.h"

namespace machine {

bool fsPrefix = false;
bool addressSizePrefix = false;
bool repPrefix = false;
bool operandSizePrefix = false;
Addr instructionStart{0};
uint8_t opcode = 0;

uint8_t fetchByte() { return fetchCode8().v; }

void executeInstruction() {
    instructionStart = state.eip;
    opcode = fetchByte();
    throw app::ProgramException(app::format("Unknown instruction byte 0x%x at address 0x%x",
                                            opcode, instructionStart.v));
}

void resetDecoderForTests() {
    fsPrefix = addressSizePrefix = repPrefix = operandSizePrefix = false;
    instructionStart = Addr{0};
    opcode = 0;
}

}  // namespace machine
