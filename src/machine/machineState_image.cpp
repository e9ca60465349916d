// The guest image: the stack and section blocks made from a loaded program,
// its import slots filled with the bound addresses, the TEB and the static
// TLS; and the reset that forgets it all again, for tests.
#include <map>
#include <string>

#include "peloader/program.h"
#include "machine/binding.h"
#include "machine/executer.h"
#include "machine/machineState.h"
#include "machine/machineState_internal.h"
#include "machine/process.h"

namespace machine {

void initialiseMachine(const peloader::Program& program) {
    state.esp = Val32{stackBase.v + program.stackReserve};
    detail::addZeroedBlock(stackBase, program.stackReserve, false);

    for (const peloader::Section& section : program.sections)
        addMemoryBlock(Addr{section.address}, section.data, section.isCode);
    bindProgramImports(program);
    allocateTEB(program.tls.present ? 48 : 4);
    if (program.tls.present) setUpThreadLocalStorage(program.tls);
}

namespace {

void bindImportSlot(const std::string& dll, const std::string& name, uint32_t slot) {
    uint32_t bound = 0;
    uint32_t target = lookupImport(dll, name, bound) ? bound : slot;
    writeMemory32(false, Addr{slot}, Val32{target});
}

void bindDllImports(const std::string& storedName,
                    const std::map<std::string, uint32_t>& functions) {
    std::string dll = normalizeDllName(storedName);
    for (const auto& [name, slot] : functions) bindImportSlot(dll, name, slot);
}

}  // namespace

void bindProgramImports(const peloader::Program& program) {
    for (const auto& [dll, functions] : program.imports()) bindDllImports(dll, functions);
}

void resetMachineForTests() {
    detail::resetRegisters();
    detail::resetMemory();
    detail::resetHeap();
    resetBindingsForTests();
    resetDecoderForTests();
    resetX87ForTests();
}

}  // namespace machine
