// Guest kernels written only with supported instructions, run by this
// interpreter and by the reference CPU (Unicorn, a JIT) over the same bytes
// and the same layout: code at 0x401000, stack at 0x100000, data at 0x500000.
// Prints guest instructions per second for both and our share of the
// reference's speed. An instruction is one interpreter step (a REP MOVSD or
// REPNZ SCASB counts once, whatever its length).
//
//   interpreter_bench [repeat] [ours]
//     repeat: runs of each kernel, best kept (default 3)
//     ours:   skip the reference (for counting instructions under callgrind)
#include <unicorn/unicorn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "guestLayout.h"
#include "machine/executer.h"
#include "machine/machineState.h"

namespace {

using guestLayout::codeStart;
using guestLayout::dataStart;
using guestLayout::stackSize;
using guestLayout::stackStart;
constexpr uint32_t dataSize = 0x10000;

struct Kernel {
    const char* name;
    std::vector<uint8_t> code;
};

// Assembled once by hand from the listing in each comment; all jumps are
// relative, so each kernel runs from 0x401000 to its last byte.
const Kernel kernels[] = {
    {"ALU loop, memory operands",
     {
         0xB9, 0x40, 0x0D, 0x03, 0x00,  //       mov ecx, 200000
         0xBB, 0x00, 0x00, 0x50, 0x00,  //       mov ebx, 0x500000
         0x33, 0xD2,                    //       xor edx, edx
         0x8B, 0x03,                    // loop: mov eax, [ebx]
         0x03, 0x43, 0x04,              //       add eax, [ebx+4]
         0x33, 0xC2,                    //       xor eax, edx
         0x89, 0x43, 0x08,              //       mov [ebx+8], eax
         0x01, 0xC2,                    //       add edx, eax
         0x29, 0x43, 0x0C,              //       sub [ebx+12], eax
         0x25, 0xFF, 0x00, 0x00, 0x00,  //       and eax, 0xff
         0x0B, 0x43, 0x10,              //       or eax, [ebx+16]
         0xD1, 0xEA,                    //       shr edx, 1
         0x49,                          //       dec ecx
         0x75, 0xE4,                    //       jne loop
     }},
    {"call/ret loop",
     {
         0xB9, 0x40, 0x0D, 0x03, 0x00,  //         mov ecx, 200000
         0x51,                          // loop:   push ecx
         0xE8, 0x08, 0x00, 0x00, 0x00,  //         call callee
         0x83, 0xC4, 0x04,              //         add esp, 4
         0x49,                          //         dec ecx
         0x75, 0xF4,                    //         jne loop
         0xEB, 0x0B,                    //         jmp end
         0x55,                          // callee: push ebp
         0x89, 0xE5,                    //         mov ebp, esp
         0x8B, 0x45, 0x08,              //         mov eax, [ebp+8]
         0x83, 0xC0, 0x01,              //         add eax, 1
         0x5D,                          //         pop ebp
         0xC3,                          //         ret
     }},                                // end:
    {"rep movsd, 4 KB copies",
     {
         0xBB, 0xD0, 0x07, 0x00, 0x00,  //       mov ebx, 2000
         0xBE, 0x00, 0x00, 0x50, 0x00,  // loop: mov esi, 0x500000
         0xBF, 0x00, 0x80, 0x50, 0x00,  //       mov edi, 0x508000
         0xB9, 0x00, 0x04, 0x00, 0x00,  //       mov ecx, 1024
         0xF3, 0xA5,                    //       rep movsd
         0x4B,                          //       dec ebx
         0x75, 0xEC,                    //       jne loop
     }},
    {"repnz scasb, 4 KB strings",
     {
         0xBB, 0xD0, 0x07, 0x00, 0x00,  //       mov ebx, 2000
         0xBF, 0x00, 0x00, 0x50, 0x00,  // loop: mov edi, 0x500000
         0xB9, 0xFF, 0xFF, 0xFF, 0xFF,  //       mov ecx, -1
         0x33, 0xC0,                    //       xor eax, eax
         0xF2, 0xAE,                    //       repnz scasb
         0x4B,                          //       dec ebx
         0x75, 0xEF,                    //       jne loop
     }},
    {"compare and branch",
     {
         0xBE, 0x40, 0x0D, 0x03, 0x00,  //        mov esi, 200000
         0x33, 0xC0,                    //        xor eax, eax
         0xBB, 0x32, 0x00, 0x00, 0x00,  //        mov ebx, 50
         0xBA, 0x07, 0x00, 0x00, 0x00,  //        mov edx, 7
         0x3B, 0xC3,                    // loop:  cmp eax, ebx
         0x7C, 0x05,                    //        jl less
         0x83, 0xE8, 0x3C,              //        sub eax, 60
         0xEB, 0x03,                    //        jmp next
         0x83, 0xC0, 0x07,              // less:  add eax, 7
         0x3B, 0xC2,                    // next:  cmp eax, edx
         0x7E, 0x01,                    //        jle skip
         0x42,                          //        inc edx
         0xA8, 0x01,                    // skip:  test al, 1
         0x74, 0x01,                    //        je even
         0x4A,                          //        dec edx
         0x4E,                          // even:  dec esi
         0x75, 0xE7,                    //        jne loop
     }},
};

// 4 KB of non-zero bytes, then a NUL: the scan's string and the copy's source.
std::vector<uint8_t> initialData() {
    std::vector<uint8_t> data(dataSize);
    for (uint32_t i = 0; i < 0x1000; ++i) data[i] = static_cast<uint8_t>(1 + i % 251);
    data[0xFFF] = 0;
    return data;
}

using Clock = std::chrono::steady_clock;

uint64_t nanosecondsSince(Clock::time_point start) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

struct Run {
    uint64_t instructions;
    uint64_t nanoseconds;
};

Run runOurs(const Kernel& kernel) {
    machine::resetMachineForTests();
    machine::addMemoryBlock(machine::Addr{stackStart}, std::vector<uint8_t>(stackSize), false);
    machine::addMemoryBlock(machine::Addr{codeStart}, kernel.code, true);
    machine::addMemoryBlock(machine::Addr{dataStart}, initialData(), false);
    machine::state.esp.v = stackStart + stackSize;
    machine::state.eip.v = codeStart;
    uint32_t end = codeStart + static_cast<uint32_t>(kernel.code.size());
    uint64_t steps = 0;
    Clock::time_point start = Clock::now();
    while (machine::state.eip.v != end) {
        machine::executeInstruction();
        ++steps;
    }
    return {steps, nanosecondsSince(start)};
}

uint64_t runReference(const Kernel& kernel) {
    uc_engine* uc = nullptr;
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) {
        std::fprintf(stderr, "uc_open failed\n");
        std::exit(1);
    }
    uc_mem_map(uc, stackStart, stackSize, UC_PROT_ALL);
    uc_mem_map(uc, codeStart, 0x1000, UC_PROT_ALL);
    uc_mem_map(uc, dataStart, dataSize, UC_PROT_ALL);
    uc_mem_write(uc, codeStart, kernel.code.data(), kernel.code.size());
    std::vector<uint8_t> data = initialData();
    uc_mem_write(uc, dataStart, data.data(), data.size());
    uint32_t esp = stackStart + stackSize;
    uc_reg_write(uc, UC_X86_REG_ESP, &esp);
    Clock::time_point start = Clock::now();
    uc_err err = uc_emu_start(uc, codeStart, codeStart + kernel.code.size(), 0, 0);
    uint64_t ns = nanosecondsSince(start);
    if (err != UC_ERR_OK) {
        std::fprintf(stderr, "reference failed on %s: %s\n", kernel.name, uc_strerror(err));
        std::exit(1);
    }
    uc_close(uc);
    return ns;
}

uint64_t perSecond(uint64_t instructions, uint64_t ns) { return ns == 0 ? 0 : instructions * 1000000000ull / ns; }

}  // namespace

int main(int argc, char** argv) {
    int repeat = argc > 1 ? std::atoi(argv[1]) : 3;
    if (repeat < 1) repeat = 1;
    bool withReference = !(argc > 2 && std::string(argv[2]) == "ours");
    std::printf("%-28s %12s %14s %14s %8s\n", "kernel", "instructions", "ours/s", "reference/s", "ours %");
    for (const Kernel& kernel : kernels) {
        Run best{0, UINT64_MAX};
        uint64_t bestReference = UINT64_MAX;
        for (int i = 0; i < repeat; ++i) {
            Run ours;
            try {
                ours = runOurs(kernel);
            } catch (const app::Exception& e) {
                std::fprintf(stderr, "%s failed: %s\n", kernel.name, e.message().c_str());
                return 1;
            }
            if (ours.nanoseconds < best.nanoseconds) best = ours;
            if (!withReference) continue;
            uint64_t reference = runReference(kernel);
            if (reference < bestReference) bestReference = reference;
        }
        uint64_t ours = perSecond(best.instructions, best.nanoseconds);
        uint64_t reference = withReference ? perSecond(best.instructions, bestReference) : 0;
        uint64_t share = reference == 0 ? 0 : ours * 100 / reference;
        std::printf("%-28s %12llu %14llu %14llu %7llu%%\n", kernel.name,
                    static_cast<unsigned long long>(best.instructions), static_cast<unsigned long long>(ours),
                    static_cast<unsigned long long>(reference), static_cast<unsigned long long>(share));
    }
    machine::resetMachineForTests();
    return 0;
}
