; The native reference for the x87 differential tests: a static ELF without
; libc that runs the very instruction bytes of each test case on the
; processor and reports the x87 state and the data block afterwards.
;
; Reads fixed-size case records from stdin and writes one result record per
; case to stdout (layouts in x87Cases.h). The guest's stack, code and data
; blocks are mapped at the guest's own addresses, the guest registers are
; loaded (zero-extended) and the case's bytes run from 0x401000, followed by
; a jump back here. The bytes run in 64-bit mode: the x87 instructions and
; their ModRM forms used by the cases ([reg], [reg+disp8], [SIB+disp8]) mean
; the same there as in 32-bit code.
bits 64
default rel

%define CASE_SIZE      512
%define CASE_CODE_LEN  0
%define CASE_REGS      8
%define CASE_CODE      64
%define CASE_DATA      256
%define RESULT_SIZE    384
%define RESULT_FPU     0
%define RESULT_DATA    128

%define STACK_BLOCK    0x100000
%define STACK_SIZE     0x10000
%define CODE_BLOCK     0x401000
%define CODE_SIZE      0x1000
%define DATA_BLOCK     0x500000
%define DATA_SIZE      0x1000
%define DATA_COPIED    256

%define SYS_read   0
%define SYS_write  1
%define SYS_mmap   9
%define SYS_exit   60

section .text
global _start

; mapBlock address, size, protection
%macro mapBlock 3
    mov eax, SYS_mmap
    mov edi, %1
    mov esi, %2
    mov edx, %3
    mov r10d, 0x32          ; MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED
    mov r8, -1
    xor r9d, r9d
    syscall
    cmp rax, %1
    jne fatal
%endmacro

_start:
    mapBlock STACK_BLOCK, STACK_SIZE, 3
    mapBlock CODE_BLOCK, CODE_SIZE, 7
    mapBlock DATA_BLOCK, DATA_SIZE, 3

nextCase:
    ; read one whole record (or end at a clean end of input)
    xor r12d, r12d
.readMore:
    mov eax, SYS_read
    xor edi, edi
    lea rsi, [caseRecord]
    add rsi, r12
    mov edx, CASE_SIZE
    sub edx, r12d
    syscall
    test rax, rax
    js fatal
    jz .endOfInput
    add r12, rax
    cmp r12, CASE_SIZE
    jb .readMore
    jmp runCase
.endOfInput:
    test r12, r12
    jnz fatal
    mov eax, SYS_exit
    xor edi, edi
    syscall

runCase:
    ; the code, then "jmp [rip+0]" with the address to come back to
    mov ecx, [caseRecord + CASE_CODE_LEN]
    cmp ecx, CASE_DATA - CASE_CODE
    ja fatal
    lea rsi, [caseRecord + CASE_CODE]
    mov edi, CODE_BLOCK
    rep movsb
    mov word [rdi], 0x25FF
    mov dword [rdi + 2], 0
    lea rax, [caseDone]
    mov [rdi + 6], rax

    lea rsi, [caseRecord + CASE_DATA]
    mov edi, DATA_BLOCK
    mov ecx, DATA_COPIED
    rep movsb

    mov [savedRsp], rsp
    mov eax, [caseRecord + CASE_REGS + 0]
    mov ecx, [caseRecord + CASE_REGS + 4]
    mov edx, [caseRecord + CASE_REGS + 8]
    mov ebx, [caseRecord + CASE_REGS + 12]
    mov ebp, [caseRecord + CASE_REGS + 20]
    mov esi, [caseRecord + CASE_REGS + 24]
    mov edi, [caseRecord + CASE_REGS + 28]
    mov esp, [caseRecord + CASE_REGS + 16]
    mov r11d, CODE_BLOCK
    jmp r11

caseDone:
    mov rsp, [savedRsp]
    fnsave [resultRecord + RESULT_FPU]
    mov esi, DATA_BLOCK
    lea rdi, [resultRecord + RESULT_DATA]
    mov ecx, DATA_COPIED
    rep movsb

    xor r12d, r12d
.writeMore:
    mov eax, SYS_write
    mov edi, 1
    lea rsi, [resultRecord]
    add rsi, r12
    mov edx, RESULT_SIZE
    sub edx, r12d
    syscall
    test rax, rax
    jle fatal
    add r12, rax
    cmp r12, RESULT_SIZE
    jb .writeMore
    jmp nextCase

fatal:
    mov eax, SYS_exit
    mov edi, 2
    syscall

section .bss
alignb 16
caseRecord:   resb CASE_SIZE
resultRecord: resb RESULT_SIZE
savedRsp:     resq 1
