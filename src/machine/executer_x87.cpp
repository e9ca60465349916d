// x87 escapes. (Placeholder until the x87 family lands: every escape is an
// unknown instruction byte.)
#include "machine/executer.h"
#include "types.h"

namespace machine {

namespace {
[[noreturn]] void unknownEscape() {
    throw app::ProgramException(app::format("Unknown instruction byte 0x%x at address 0x%x",
                                            opcode, instructionStart.v));
}
}  // namespace

void executeFpuD8() { unknownEscape(); }
void executeFpuD9() { unknownEscape(); }
void executeFpuDB() { unknownEscape(); }
void executeFpuDC() { unknownEscape(); }
void executeFpuDD() { unknownEscape(); }
void executeFpuDE() { unknownEscape(); }
void executeFpuDF() { unknownEscape(); }
void executeWait() {}

}  // namespace machine
