; The test game: a PE32 i386 executable of our own that stands where the
; game's executable stands, with the graphics library, the input library and
; the patched routines at the addresses where the host replaces them.
;
;   nasm -f bin -I tests/testgame/ tests/testgame/game.asm -o game.bin
;
; Variants (one at most): -DVARIANT_RAISE (RaiseException at the end),
; -DVARIANT_UNBOUND (a call through the import that has no binding),
; -DVARIANT_BADOP (an instruction the interpreter lacks), -DVARIANT_RETURN
; (returns from the entry point instead of ExitProcess), -DVARIANT_MISSINGPIC
; (loads a picture file that does not exist). -DINPUT_FRAMES=n sets how many
; frames the input phase waits for a key tap and a click (default 150).
;
; The scripted run checks every result and reports through the log: a
; GetProcAddress on its own module for a name it does not export logs
; "Warning: GetProcAddress() export name not found: <name>", so each check
; writes "CHECK <id> ok" or "CHECK <id> FAIL got=0x.. want=0x..", each input
; event "INPUT ...", and the run ends with "SUMMARY <n> checks, <f> failed".
;
; What a frame shows (top-down game coordinates, 640x480):
;   (0, 0)      the 37x23 picture odd.bmp (blitLayerRegion), grey 0x808080
;               with a white left column
;   (40, 40)    the 256x64 texture road.bmp: colour bands, red 0xFF0000 at
;               its top-left pixel
;   (290, 190)  a 50x50 blue fill 0x2040C0, and over it at (300, 200) the
;               30x30 sprite.bmp keyed on magenta 0xFF00FF: a green 0x00FF00
;               10x10 square at (310, 210); the magenta rest shows the blue
;   (600, 10)   one white pixel (fillRect of one pixel)
;   (200, 300)  the text "QUORLEN TEST" through the back-surface DC: glyph
;               tops at y = 305, ink from y = 308 on; the Q's first ink row
;               is (201..203, 308)
; The picture CD07.bmp is loaded in memory only, never drawn.
; tools/testgame/check_screenshot.py checks these pixels in a screenshot.

bits 32
%include "supported.inc"

%ifndef INPUT_FRAMES
%define INPUT_FRAMES 150
%endif

%define IMAGE_BASE 0x400000
%define TEXT_VA    0x401000
%define TEXT_SIZE  0xF000
%define RDATA_VA   0x410000
%define RDATA_SIZE 0x3000
%define DATA_VA    0x413000
%define DATA_SIZE  0x3000
%define FILE_ALIGN 0x200
%define HEADERS_SIZE 0x400
%define STACK_RESERVE 0x100000     ; 0x100000 .. 0x200000, below the image
%define RVA(x) ((x) - IMAGE_BASE)
%assign RDATA_FILE HEADERS_SIZE + TEXT_SIZE
%assign DATA_FILE RDATA_FILE + RDATA_SIZE

; Guest heap addresses in the order of allocation: the first block starts
; where .data ends, each later one on the next 4096 boundary after
; start + capacity + 4 (capacity: 16, doubled until it holds the size).
%define HEAP_TLS_SLOTS   0x416000  ; 4 bytes (image set-up)
%define HEAP_TLS_BLOCK   0x417000  ; 32 bytes: template + zero fill
%define HEAP_COMMAND     0x418000  ; 23 bytes (platformInit)
%define HEAP_ENVIRONMENT 0x419000  ; 4 bytes
%define HEAP_RESERVED    0x41A000  ; VirtualAlloc of 307200 (capacity 0x80000)
%define HEAP_DXDRAW      0x49B000  ; size 0
%define HEAP_DISPLAY     0x49C000  ; size 0
%define HEAP_DXINPUT     0x49D000  ; 560 bytes
%define EXPORT_ADDRESS   exportedFunction

; Handles: 1 module, 2 cursor, 3 icon, 4 back-surface DC, 5 stock object,
; then in call order.
%define H_KERNEL32 6
%define H_USER32   7
%define H_CLASS    8
%define H_WINDOW   9

; Scan codes of the six game keys.
%define KEY_ESC   0x01
%define KEY_1     0x02
%define KEY_2     0x03
%define KEY_3     0x04
%define KEY_ENTER 0x1C
%define KEY_F1    0x3B

; ---- Checks and log lines ---------------------------------------------------
; CHECK "id", want: compares eax with want and logs the outcome.
%macro CHECK 2
    [section .rdata]
    %%id: db %1, 0
    __?SECT?__
    push dword %2
    push eax
    push dword %%id
    call checkEqual
    add esp, 12
%endmacro
; LOG "text": one log line.
%macro LOG 1
    [section .rdata]
    %%text: db %1, 0
    __?SECT?__
    push dword %%text
    call logLine
    add esp, 4
%endmacro
; STRING label, "text": a NUL-terminated string in .rdata.
%macro STRING 2
    [section .rdata]
    %1: db %2, 0
    __?SECT?__
%endmacro
; Calls of the library routines: cdecl, arguments right to left.
%macro CCALL 1-*
    %rep %0 - 1
        %rotate -1
        push dword %1
    %endrep
    %rotate -1
    call %1
    %if %0 > 1
        add esp, 4 * (%0 - 1)
    %endif
%endmacro
; Calls of the imported Windows functions: stdcall through the import slot.
%macro WINCALL 1-*
    %rep %0 - 1
        %rotate -1
        push dword %1
    %endrep
    %rotate -1
    call [imp_%1]
%endmacro

; The graphics library's routines.
%define createDXDrawStretch   0x401d85
%define releaseDXDrawStretch  0x4012eb
%define ignoreCall            0x407108
%define setDisplayMode        0x40714c
%define flip                  0x4073bc
%define createLayer           0x407404
%define destroyLayer          0x4074ac
%define loadLayerImage        0x4075fc
%define clearDisplay          0x407868
%define blitLayerRegion       0x4078d4
%define blitLayer             0x407978
%define fillRect              0x4079f8
%define lockLayer             0x407a80
%define unlockLayer           0x407af8
%define getDC                 0x407b40
%define releaseDC             0x407b8c
%define setTransparentColour  0x407c00
%define ignoreDisplayCall     0x407c60
%define checkFullScreenRect   0x407d24
; The input library's routines.
%define pollMouse             0x406d64
%define pollKeyboard          0x406f18

; Guest globals.
%define G_DXDRAW   0x413148
%define G_DXINPUT  0x41314c
%define G_WATCHED  0x413150
%define G_BRANCH   0x413178

; ==== Headers ================================================================
section headers start=0 vstart=IMAGE_BASE
dosHeader:
    db "MZ"
    times 0x3C - ($ - $$) db 0
    dd peHeader - IMAGE_BASE            ; e_lfanew
    times 0x40 - ($ - $$) db 0
peHeader:
    db "PE", 0, 0
    dw 0x14C                            ; i386
    dw 3                                ; sections
    dd 0, 0, 0
    dw optionalHeaderEnd - optionalHeader
    dw 0x010F                           ; executable, 32-bit, no relocations
optionalHeader:
    dw 0x10B                            ; PE32
    db 0, 0
    dd TEXT_SIZE                        ; SizeOfCode
    dd RDATA_SIZE + DATA_SIZE           ; SizeOfInitializedData
    dd 0
    dd RVA(entry)                       ; AddressOfEntryPoint
    dd RVA(TEXT_VA)                     ; BaseOfCode
    dd RVA(RDATA_VA)                    ; BaseOfData
    dd IMAGE_BASE
    dd 0x1000, FILE_ALIGN               ; section and file alignment
    dw 4, 0, 0, 0, 4, 0                 ; OS, image and subsystem versions
    dd 0                                ; Win32VersionValue
    dd RVA(DATA_VA + DATA_SIZE)         ; SizeOfImage
    dd HEADERS_SIZE
    dd 0                                ; CheckSum
    dw 2, 0                             ; GUI subsystem, DllCharacteristics
    dd STACK_RESERVE, 0x1000            ; stack reserve and commit
    dd 0x100000, 0x1000                 ; heap reserve and commit
    dd 0                                ; LoaderFlags
    dd 16                               ; NumberOfRvaAndSizes
    dd RVA(exportDirectory), exportDirectoryEnd - exportDirectory
    dd RVA(importDirectory), importDirectoryEnd - importDirectory
    times 7 dd 0, 0
    dd RVA(tlsDirectory), 24
    times 6 dd 0, 0
optionalHeaderEnd:
sectionTable:
    db ".text", 0, 0, 0
    dd TEXT_SIZE, RVA(TEXT_VA), TEXT_SIZE, HEADERS_SIZE, 0, 0
    dw 0, 0
    dd 0x60000020                       ; code, execute, read
    db ".rdata", 0, 0
    dd RDATA_SIZE, RVA(RDATA_VA), RDATA_SIZE, HEADERS_SIZE + TEXT_SIZE, 0, 0
    dw 0, 0
    dd 0x40000040                       ; initialised data, read
    db ".data", 0, 0, 0
    dd DATA_SIZE, RVA(DATA_VA), DATA_SIZE, HEADERS_SIZE + TEXT_SIZE + RDATA_SIZE, 0, 0
    dw 0, 0
    dd 0xC0000040                       ; initialised data, read, write
    times HEADERS_SIZE - ($ - $$) db 0

; ==== .text ==================================================================
section .text start=HEADERS_SIZE vstart=TEXT_VA

; ---- 0x401000: the entry point -----------------------------------------------
entry:
    jmp main

; ---- 0x4012c0: shutting the libraries down -----------------------------------
; The release of the DXInput object runs on into that of the draw object.
TEXT_AT 0x4012c0
releaseLibraries:
    mov dword [releaseMarker], 1
    FALL_TO 0x4012ca
    HOOK_BYTES 0x4012ca, 0x4012eb       ; releaseDXInput
    HOOK_BYTES 0x4012eb, 0x40130d       ; releaseDXDraw
    mov eax, [releaseMarker]
    ret

; exportedFunction: the program's one export.
exportedFunction:
    mov eax, 0x600D
    ret

; ---- 0x401540: a branch on the global at 0x413178 ---------------------------
; Returns 1 on the way to 0x4016c0 (value <= 8), 2 on the other.
TEXT_AT 0x401540
branchOnGlobal:
    ZERO eax
    FALL_TO 0x40154c
    HOOK_BYTES 0x40154c, 0x40155b       ; patchBranch
    mov eax, 2
    ret
TEXT_AT 0x4016c0
    mov eax, 1
    ret

; ---- 0x401d70: creating the draw object --------------------------------------
TEXT_AT 0x401d70
createDrawObject:
    mov dword [createMarker], 1
    FALL_TO 0x401d7d
    HOOK_BYTES 0x401d7d, 0x401d85       ; patchSkip
    HOOK_BYTES 0x401d85, 0x401db7       ; createDXDraw
    mov eax, [G_DXDRAW]
    ret

; ---- 0x401e40: creating the DXInput object -----------------------------------
TEXT_AT 0x401e40
createInputObject:
    mov dword [createMarker], 2
    FALL_TO 0x401e4d
    HOOK_BYTES 0x401e4d, 0x401edb       ; createDXInput
    mov eax, [G_DXINPUT]
    ret

; ---- 0x402a20: copying a locked picture into a buffer ----------------------
; pictureCopy(P, a, b, layer object): the copy into buffer 3a + b of the
; table at P + 0x34. Frame: ebp - 0x70 = a, ebp - 0x74 = b, ebp + 8 = P.
TEXT_AT 0x402a20
pictureCopy:
    push ebp
    mov ebp, esp
    sub esp, 0x74
    push esi
    mov eax, [ebp + 12]
    mov [ebp - 0x70], eax
    mov eax, [ebp + 16]
    mov [ebp - 0x74], eax
    mov esi, [ebp + 20]
    mov eax, 0x5A5A5A5A                 ; eax must come through
    FALL_TO 0x402a55
    HOOK_BYTES 0x402a55, 0x402a9e       ; patchPictureCopy
    mov [copyEax], eax
    pop esi
    mov esp, ebp
    pop ebp
    ret

; ---- 0x402b00: helpers -------------------------------------------------------
TEXT_AT 0x402b00

; checkEqual(id, got, want): logs "CHECK <id> ok" or the failure with both
; values. Leaves eax = got, so a check can be followed by work on the value.
checkEqual:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    inc dword [checkCount]
    mov edi, lineBuffer
    mov esi, sCheck
    call appendString
    mov esi, [ebp + 8]
    call appendString
    mov eax, [ebp + 12]
    cmp eax, [ebp + 16]
    jne .fail
    mov esi, sOk
    call appendString
    jmp .emit
.fail:
    inc dword [failCount]
    mov esi, sFailGot
    call appendString
    mov eax, [ebp + 12]
    call appendHex
    mov esi, sWant
    call appendString
    mov eax, [ebp + 16]
    call appendHex
.emit:
    mov byte [edi], 0
    push dword lineBuffer
    push dword 1
    call [imp_GetProcAddress]
    mov eax, [ebp + 12]
    pop edi
    pop esi
    pop ebx
    mov esp, ebp
    pop ebp
    ret

; logLine(text): one log line.
logLine:
    push dword [esp + 4]
    push dword 1
    call [imp_GetProcAddress]
    ret

; Appends the string at esi to edi (without its zero byte). Moves esi, edi.
appendString:
.next:
    mov al, [esi]
    test al, al
    je .done
    mov [edi], al
    inc esi
    inc edi
    jmp .next
.done:
    ret

; Appends eax in lower-case hexadecimal without leading zeros, after "0x".
appendHex:
    push ebx
    push ecx
    push edx
    mov byte [edi], '0'
    mov byte [edi + 1], 'x'
    add edi, 2
    mov ecx, 8
    ZERO edx                             ; a digit was written
.digit:
    mov ebx, eax
    SHR_RI ebx, 28
    SHL_RI eax, 4
    test edx, edx
    jne .write
    test ebx, ebx
    jne .write
    cmp ecx, 1
    jne .skip
.write:
    mov edx, 1
    mov bl, [hexDigits + ebx]
    mov [edi], bl
    inc edi
.skip:
    dec ecx
    jne .digit
    pop edx
    pop ecx
    pop ebx
    ret

; Appends eax in decimal (unsigned).
appendDecimal:
    push ebx
    push ecx
    push edx
    ZERO ebx
    mov ecx, 10
.divide:
    ZERO edx
    div ecx
    push edx
    inc ebx
    test eax, eax
    jne .divide
.write:
    pop eax
    add eax, '0'
    mov [edi], al
    inc edi
    dec ebx
    jne .write
    pop edx
    pop ecx
    pop ebx
    ret

; stringsEqual(a, b) -> eax 1 when the two strings are equal, else 0.
stringsEqual:
    push esi
    push edi
    mov esi, [esp + 12]
    mov edi, [esp + 16]
.next:
    mov al, [esi]
    mov ah, [edi]
    CMP8_RR al, ah
    jne .differ
    test al, al
    je .equal
    inc esi
    inc edi
    jmp .next
.equal:
    mov eax, 1
    jmp .done
.differ:
    ZERO eax
.done:
    pop edi
    pop esi
    ret

; byteSum(address, count) -> eax the sum of count bytes.
byteSum:
    push esi
    push ecx
    push edx
    mov esi, [esp + 16]
    mov ecx, [esp + 20]
    ZERO eax
    ZERO edx
.next:
    test ecx, ecx
    je .done
    mov dl, [esi]
    add eax, edx
    inc esi
    dec ecx
    jmp .next
.done:
    pop edx
    pop ecx
    pop esi
    ret

; ---- 0x404490: refreshing the left button ------------------------------------
; After the replaced 5 bytes eax holds the DXInput object.
TEXT_AT 0x404490
refreshLeft:
    ZERO eax
    FALL_TO 0x404499
    HOOK_BYTES 0x404499, 0x40449e       ; refreshLeftButton
    ret

; ---- 0x4044a0: the instruction of the bad-instruction variant --------------
TEXT_AT 0x4044a0
badInstruction:
%ifdef VARIANT_BADOP
    db 0xC9                             ; LEAVE: the interpreter lacks it
%endif
    ret

; ---- 0x406d64 ... 0x407e94: the libraries' routines ------------------------
    FUNCTION_HOOK pollMouse
    FUNCTION_HOOK pollKeyboard
    FUNCTION_HOOK ignoreCall
    FUNCTION_HOOK setDisplayMode
    FUNCTION_HOOK flip
    FUNCTION_HOOK createLayer
    FUNCTION_HOOK destroyLayer
; The game's own routine that destroyLayer calls when byte 4 of the layer is
; set: counts and keeps its argument.
TEXT_AT 0x4074d8
layerRoutineA:
    mov eax, [esp + 4]
    mov [routineAArg], eax
    inc dword [routineCalls]
    mov dword [routineOrder], 1
    ret
    FUNCTION_HOOK loadLayerImage
    FUNCTION_HOOK clearDisplay
    FUNCTION_HOOK blitLayerRegion
    FUNCTION_HOOK blitLayer
    FUNCTION_HOOK fillRect
    FUNCTION_HOOK lockLayer
    FUNCTION_HOOK unlockLayer
    FUNCTION_HOOK getDC
    FUNCTION_HOOK releaseDC
    FUNCTION_HOOK setTransparentColour
    FUNCTION_HOOK ignoreDisplayCall
    FUNCTION_HOOK checkFullScreenRect
; The routine that destroyLayer calls when bit 0 of its flags is set.
TEXT_AT 0x407e94
layerRoutineB:
    mov eax, [esp + 4]
    mov [routineBArg], eax
    inc dword [routineCalls]
    shl dword [routineOrder], 4
    add dword [routineOrder], 2
    ret

; ==== 0x408000: the scripted run =============================================
TEXT_AT 0x408000
main:
    mov [entryEsp], esp
    mov eax, [esp]
    CHECK "entry.returnAddress", 0xFFFFFFF0
    mov eax, esp
    CHECK "entry.esp", 0x100000 + STACK_RESERVE - 4
    call testImage
    call testProcess
    call testKernel32
    call testUser32
    call testWindow
    call testPatches
    call testX87
    call testGraphicsObjects
    call testInput
    call testRecreate
    call testFirstFrame
    call showFrames
    call inputPhase
    call testEnding
    call writeSummary
%ifdef VARIANT_RAISE
    WINCALL RaiseException, 0xE0000001, 0, 0, 0
%endif
%ifdef VARIANT_UNBOUND
    WINCALL Sleep, 1
%endif
%ifdef VARIANT_BADOP
    call badInstruction
%endif
%ifdef VARIANT_MISSINGPIC
    CCALL loadLayerImage, layerRoad, nameMissing, [G_DXDRAW], 0, 0
%endif
%ifdef VARIANT_RETURN
    mov esp, [entryEsp]
    ret
%endif
    WINCALL ExitProcess, 0
    LOG "ExitProcess returned"
    ret

; ---- The guest image: TLS, TEB, import slots -------------------------------
testImage:
    mov eax, [tlsIndex]
    CHECK "tls.index", 0
    mov eax, [fs:0x2C]
    CHECK "tls.slots", HEAP_TLS_SLOTS
    mov eax, [fs:0x2C]
    mov eax, [eax]
    CHECK "tls.block", HEAP_TLS_BLOCK
    mov eax, [HEAP_TLS_BLOCK]
    CHECK "tls.template0", 0x544C5351
    mov eax, [HEAP_TLS_BLOCK + 12]
    CHECK "tls.template12", 0x0D0C0B0A
    push dword 16
    push dword HEAP_TLS_BLOCK + 16
    call byteSum
    add esp, 8
    CHECK "tls.zeroFill", 0
    mov eax, [fs:0]
    CHECK "teb.exceptionList", 0
    mov eax, [imp_Sleep]
    CHECK "import.unboundSlot", imp_Sleep
    mov eax, [imp_ordinal]
    CHECK "import.ordinalSlot", 0x80000001
    mov eax, [imp_ExitProcess]
    CHECK "import.ExitProcess", 0xF0001000
    mov eax, [imp_GetSystemMetrics]
    CHECK "import.GetSystemMetrics", 0xF0002002
    mov eax, [imp_TextOutA]
    CHECK "import.TextOutA", 0xF0003003
    mov eax, [imp_UnregisterClassA]
    CHECK "import.UnregisterClassA", 0xF0004006
    mov eax, [imp_timeGetTime]
    CHECK "import.timeGetTime", 0xF0007000
    ret

; ---- Process and modules --------------------------------------------------
testProcess:
    WINCALL GetCommandLineA
    CHECK "GetCommandLineA", HEAP_COMMAND
    push dword sProgramPath
    push eax
    call stringsEqual
    add esp, 8
    CHECK "GetCommandLineA.text", 1
    WINCALL GetCommandLineA
    CHECK "GetCommandLineA.again", HEAP_COMMAND
    WINCALL GetEnvironmentStrings
    CHECK "GetEnvironmentStrings", HEAP_ENVIRONMENT
    mov eax, [eax]
    CHECK "GetEnvironmentStrings.empty", 0
    ; The whole name, then one cut to 10 bytes.
    WINCALL GetModuleFileNameA, 0, fileName, 260
    CHECK "GetModuleFileNameA", 22
    push dword sProgramPath
    push dword fileName
    call stringsEqual
    add esp, 8
    CHECK "GetModuleFileNameA.text", 1
    mov dword [fileName + 8], 0x77777777
    mov dword [fileName + 12], 0x77777777
    WINCALL GetModuleFileNameA, 0, fileName + 8, 5
    CHECK "GetModuleFileNameA.cut", 5
    mov eax, [fileName + 8]
    CHECK "GetModuleFileNameA.cutText", 0x515C3A43   ; "C:\Q"
    mov eax, [fileName + 12]
    CHECK "GetModuleFileNameA.cutEnd", 0x77777700
    ; Module handles: the program, then the DLLs in the order named.
    WINCALL GetModuleHandleA, 0
    CHECK "GetModuleHandleA.null", 1
    WINCALL GetModuleHandleA, sEmpty
    CHECK "GetModuleHandleA.empty", 1
    WINCALL GetModuleHandleA, sKernel32Upper
    CHECK "GetModuleHandleA.KERNEL32", H_KERNEL32
    WINCALL GetModuleHandleA, sKernel32Lower
    CHECK "GetModuleHandleA.kernel32", H_KERNEL32
    WINCALL GetModuleHandleA, sUser32
    CHECK "GetModuleHandleA.user32", H_USER32
    WINCALL GetModuleHandleA, sKernel32Bare
    CHECK "GetModuleHandleA.bareName", 0
    ; Functions by name.
    WINCALL GetProcAddress, H_KERNEL32, sGetACP
    CHECK "GetProcAddress.GetACP", 0xF0001001
    call eax
    CHECK "GetProcAddress.call", 1252
    WINCALL GetProcAddress, H_USER32, sGetSystemMetrics
    CHECK "GetProcAddress.GetSystemMetrics", 0xF0002002
    WINCALL GetProcAddress, H_KERNEL32, sBorland32
    CHECK "GetProcAddress.Borland32", 0
    WINCALL GetProcAddress, H_KERNEL32, sBorland32Lower
    CHECK "GetProcAddress.missing", 0
    WINCALL GetProcAddress, 1, sExportName
    CHECK "GetProcAddress.export", EXPORT_ADDRESS
    call eax
    CHECK "export.call", 0x600D
    WINCALL GetProcAddress, 99, sGetACP
    CHECK "GetProcAddress.badModule", 0
    ret

; ---- kernel32 ---------------------------------------------------------------
testKernel32:
    WINCALL GetACP
    CHECK "GetACP", 1252
    mov dword [cpInfo + 16], 0xABABABAB
    WINCALL GetCPInfo, 1252, cpInfo
    CHECK "GetCPInfo", 1
    mov eax, [cpInfo]
    CHECK "GetCPInfo.MaxCharSize", 1
    mov eax, [cpInfo + 4]
    CHECK "GetCPInfo.DefaultChar", 0x3F
    mov eax, [cpInfo + 16]
    CHECK "GetCPInfo.LeadByteEnd", 0xABAB0000
    WINCALL GetStdHandle, -11
    CHECK "GetStdHandle", 0
    WINCALL GetFileType, eax
    CHECK "GetFileType", 0
    mov eax, 0x12345678
    WINCALL GetStartupInfoA, startupInfo
    CHECK "GetStartupInfoA.eax", 0x12345678
    mov eax, [startupInfo]
    CHECK "GetStartupInfoA.cb", 68
    mov dword [versionInfo], 148
    mov byte [versionInfo + 20], 'X'
    WINCALL GetVersionExA, versionInfo
    CHECK "GetVersionExA", 1
    mov eax, [versionInfo + 4]
    CHECK "GetVersionExA.major", 4
    mov eax, [versionInfo + 8]
    CHECK "GetVersionExA.minor", 10
    mov eax, [versionInfo + 12]
    CHECK "GetVersionExA.build", 2222
    mov eax, [versionInfo + 16]
    CHECK "GetVersionExA.platform", 1
    mov eax, [versionInfo + 20]
    CHECK "GetVersionExA.csd", 0
    mov dword [memoryStatus + 28], 0x99999999
    mov eax, 0x2468ACE0
    WINCALL GlobalMemoryStatus, memoryStatus
    CHECK "GlobalMemoryStatus.eax", 0x2468ACE0
    mov eax, [memoryStatus]
    CHECK "GlobalMemoryStatus.length", 32
    mov eax, [memoryStatus + 28]
    CHECK "GlobalMemoryStatus.availVirtual", 0
    mov eax, 0x13579BDF
    WINCALL SetHandleCount, 20
    CHECK "SetHandleCount.eax", 0x13579BDF
    ; Reserve a buffer for the picture copy, then commit and decommit it.
    WINCALL VirtualAlloc, 0, 307200, 0x2000, 1
    CHECK "VirtualAlloc.reserve", HEAP_RESERVED
    mov eax, [HEAP_RESERVED + 307196]
    CHECK "VirtualAlloc.zeroed", 0
    WINCALL VirtualAlloc, HEAP_RESERVED, 307200, 0x1000, 4
    CHECK "VirtualAlloc.commit", HEAP_RESERVED
    WINCALL VirtualFree, HEAP_RESERVED, 0, 0x4000
    CHECK "VirtualFree", 0
    ret

; ---- user32 and winmm ------------------------------------------------------
testUser32:
    WINCALL LoadIconA, 0, 32512
    CHECK "LoadIconA", 3
    WINCALL LoadCursorA, 0, 32512
    CHECK "LoadCursorA", 2
    WINCALL GetSystemMetrics, 0
    CHECK "GetSystemMetrics.cx", 640
    WINCALL GetSystemMetrics, 1
    CHECK "GetSystemMetrics.cy", 480
    WINCALL ShowCursor, 0
    CHECK "ShowCursor.hide", 0xFFFFFFFF
    WINCALL ShowCursor, 1
    CHECK "ShowCursor.show", 0
    WINCALL SetRect, rect, -10, -20, 630, 470
    CHECK "SetRect", 1
    mov eax, [rect]
    CHECK "SetRect.left", -10
    mov eax, [rect + 4]
    CHECK "SetRect.top", -20
    mov eax, [rect + 8]
    CHECK "SetRect.right", 630
    mov eax, [rect + 12]
    CHECK "SetRect.bottom", 470
    WINCALL timeGetTime
    mov [timeStart], eax
    WINCALL timeGetTime
    sub eax, [timeStart]
    SHR_RI eax, 31                      ; 0 unless the clock went back
    CHECK "timeGetTime.forward", 0
    ret

; ---- The window functions --------------------------------------------------
testWindow:
    WINCALL RegisterClassExA, windowClass
    CHECK "RegisterClassExA", H_CLASS
    WINCALL CreateWindowExA, 0, sClassName, sWindowName, 0x80000000, 0, 0, 640, 480, 0, 0, 1, 0
    CHECK "CreateWindowExA", H_WINDOW
    WINCALL MoveWindow, H_WINDOW, 0, 0, 640, 480, 1
    CHECK "MoveWindow", 0
    WINCALL ShowWindow, H_WINDOW, 1
    CHECK "ShowWindow", 0
    mov dword [message + 4], 0x4444
    mov ebx, esp
    WINCALL PeekMessageA, message, H_WINDOW, 0, 0, 1
    CHECK "PeekMessageA.none", 0
    mov eax, [message + 4]
    CHECK "PeekMessageA.untouched", 0x4444
    mov eax, esp
    sub eax, ebx
    CHECK "PeekMessageA.esp", 0
    ret

; ---- The game patches ---------------------------------------------------
testPatches:
    mov dword [G_BRANCH], 8
    call branchOnGlobal
    CHECK "patchBranch.8", 1
    mov dword [G_BRANCH], 9
    call branchOnGlobal
    CHECK "patchBranch.9", 2
    mov dword [G_BRANCH], 0x80000000
    call branchOnGlobal
    CHECK "patchBranch.negative", 1
    ; Three records of which the second matches the key 0x42.
    mov dword [routineCalls], 0
    mov eax, dispatchRecords
    add eax, 18
    push dword 0x42
    push eax
    push dword dispatchRecords
    call dispatchKeys
    add esp, 12
    mov eax, [dispatchEnd]
    CHECK "patchDispatchLoop.ebx", dispatchRecords + 18
    mov eax, [dispatchEax]
    CHECK "patchDispatchLoop.eax", 0x42
    mov eax, [routineCalls]
    CHECK "patchDispatchLoop.calls", 1
    mov eax, [dispatchedKey]
    CHECK "patchDispatchLoop.routine", 0x42
    ret

; ---- x87 across native calls -------------------------------------------
testX87:
    push ebp
    mov ebp, esp
    sub esp, 8
    fnstcw [ebp - 2]
    movzx eax, word [ebp - 2]
    CHECK "x87.controlWord", 0x033F
    fild dword [seven]
    fmul qword [twoPointFive]           ; 17.5
    WINCALL GetACP
    fld1
    faddp st1, st0                      ; 18.5
    WINCALL GetSystemMetrics, 0
    fistp qword [x87Result]             ; to nearest even: 18
    mov eax, [x87Result]
    CHECK "x87.arithmetic", 18
    mov eax, [x87Result + 4]
    CHECK "x87.arithmeticHigh", 0
    fldpi
    WINCALL GetModuleHandleA, 0
    fmul qword [thousand]
    fistp qword [x87Result]
    mov eax, [x87Result]
    CHECK "x87.pi", 3142
    fld qword [two]
    fsqrt
    WINCALL SetHandleCount, 1
    fmul qword [thousand]
    fistp qword [x87Result]
    mov eax, [x87Result]
    CHECK "x87.sqrt", 1414
    fld qword [two]
    fcom dword [oneFloat]
    fnstsw [ebp - 4]
    fstp st0
    mov ah, [ebp - 3]
    sahf
    mov eax, 1
    ja .greater
    ZERO eax
.greater:
    CHECK "x87.compare", 1
    mov esp, ebp
    pop ebp
    ret

; ---- The draw object, the display and layers ------------------------------
testGraphicsObjects:
    mov ebx, esp
    call createDrawObject
    CHECK "createDXDraw", HEAP_DXDRAW
    mov eax, esp
    sub eax, ebx
    CHECK "createDXDraw.esp", 0
    ; A function hook returns to its caller with esp and eax as they were.
    mov eax, 0xA5A5A5A5
    call ignoreCall
    CHECK "ignoreCall.eax", 0xA5A5A5A5
    mov eax, esp
    sub eax, ebx
    CHECK "ignoreCall.esp", 0
    CCALL setDisplayMode, 640, 480, 16, 0, display
    mov eax, [display]
    CHECK "setDisplayMode", HEAP_DISPLAY
    CCALL checkFullScreenRect, [display], 0, 0, 640, 480
    CCALL ignoreDisplayCall, [display], 0
    WINCALL GetStockObject, 4
    CHECK "GetStockObject", 5
    ; Layers: created over old bytes, which must be cleared.
    mov dword [layerRoad + 92], 0x77777777
    CCALL createLayer, layerRoad, 0
    mov eax, [layerRoad + 92]
    CHECK "createLayer.cleared", 0
    CCALL createLayer, layerSprite, 0
    CCALL createLayer, layerOdd, 0
    CCALL createLayer, layerCD, 0
    mov eax, 0x5EE5A11
    CCALL setTransparentColour, layerSprite, 0xFF00FF
    CHECK "setTransparentColour.eax", 0x5EE5A11
    mov eax, esp
    sub eax, ebx
    CHECK "setTransparentColour.esp", 0
    CCALL loadLayerImage, layerRoad, nameRoad, [G_DXDRAW], 0, 0
    CCALL loadLayerImage, layerSprite, nameSprite, [G_DXDRAW], 0, 0
    CCALL loadLayerImage, layerOdd, nameOdd, [G_DXDRAW], 0, 0
    CCALL loadLayerImage, layerCD, nameCD, [G_DXDRAW], 0, 0
    ; The in-memory picture, locked: pixel (x, y) is 0xFF000000 + x << 16 +
    ; (y & 0xFF) << 8 + (3x + 7y) & 0xFF.
    CCALL lockLayer, layerCD
    mov eax, [layerCD + 56]
    CHECK "lockLayer.address", 0xE0000000
    mov eax, [layerCD + 60]
    CHECK "lockLayer.pitch", 640
    mov eax, [0xE0000000 + 4 * (10 * 640 + 20)]
    CHECK "lockLayer.pixel", 0xFF140A82
    mov dword [0xE0000000 + 4], 0xFF123456
    ; The copy into buffer 3 * 2 + 1 = 7 of the table.
    mov eax, HEAP_RESERVED
    mov [pictureTable + 0x34 + 7 * 4], eax
    CCALL pictureCopy, pictureTable, 2, 1, layerCD
    mov eax, [copyEax]
    CHECK "patchPictureCopy.eax", 0x5A5A5A5A
    mov eax, [HEAP_RESERVED]
    CHECK "patchPictureCopy.row0", 0x09065600
    mov eax, [HEAP_RESERVED + 479 * 640 + 636]
    CHECK "patchPictureCopy.row479", 0x9693908D
    CCALL unlockLayer, layerCD
    mov eax, [layerCD + 56]
    CHECK "unlockLayer.keepsAddress", 0xE0000000
    ; destroyLayer calls the game's routine A (byte 4 set), then B (flag 1).
    CCALL createLayer, layerSpare, 0
    mov byte [layerSpare + 4], 1
    mov dword [routineCalls], 0
    mov dword [routineOrder], 0
    CCALL destroyLayer, layerSpare, 1
    mov eax, [routineOrder]
    CHECK "destroyLayer.order", 0x12
    mov eax, [routineAArg]
    CHECK "destroyLayer.argA", layerSpare
    mov eax, [routineBArg]
    CHECK "destroyLayer.argB", layerSpare
    CCALL destroyLayer, 0, 1
    mov eax, [routineCalls]
    CHECK "destroyLayer.null", 2
    ret

; ---- The input library ----------------------------------------------------
testInput:
    mov dword [G_WATCHED], watchedObject
    call createInputObject
    CHECK "createDXInput", HEAP_DXINPUT
    mov ebx, eax
    CCALL pollKeyboard, ebx
    movzx eax, word [ebx + 558]
    CHECK "pollKeyboard.polled", 1
    push dword 256
    lea eax, [ebx + 302]
    push eax
    call byteSum
    add esp, 8
    CHECK "pollKeyboard.firstPrevious", 0
    push dword 256
    lea eax, [ebx + 46]
    push eax
    call byteSum
    add esp, 8
    mov [keySum], eax
    CCALL pollKeyboard, ebx
    push dword 256
    lea eax, [ebx + 302]
    push eax
    call byteSum
    add esp, 8
    CHECK "pollKeyboard.previous", [keySum]
    CCALL pollMouse, ebx
    mov eax, [ebx + 28]
    and eax, 0xFFFFFEFE
    CHECK "pollMouse.buttons", 0
    movzx eax, word [ebx + 44]
    CHECK "pollMouse.previousFirst", 0
    movzx eax, word [ebx + 28]
    mov [buttonsBefore], eax
    CCALL pollMouse, ebx
    movzx eax, word [ebx + 44]
    CHECK "pollMouse.previous", [buttonsBefore]
    call refreshLeft
    CHECK "refreshLeftButton", HEAP_DXINPUT
    ret

; ---- Releasing and making again the two objects -----------------------------
testRecreate:
    call releaseLibraries
    CHECK "releaseLibraries.ran", 1
    mov eax, [G_DXINPUT]
    CHECK "releaseDXInput", 0
    mov eax, [G_DXDRAW]
    CHECK "releaseDXDraw", 0
    call createDrawObject
    CHECK "createDXDraw.again", HEAP_DXDRAW
    call createInputObject
    CHECK "createDXInput.again", HEAP_DXINPUT
    movzx eax, word [HEAP_DXINPUT + 558]
    CHECK "createDXInput.zeroed", 0
    ret

; ---- Frames -----------------------------------------------------------------
; drawFrame: one frame drawn into the back buffer and presented; keeps the
; results of the text calls.
drawFrame:
    CCALL clearDisplay, [display]
    CCALL blitLayerRegion, layerOdd, [display], 0, 0, 0, 0, 37, 23
    CCALL blitLayer, layerRoad, [display], 40, 40
    CCALL fillRect, [display], 290, 190, 339, 239, 0x2040C0
    CCALL blitLayer, layerSprite, [display], 300, 200
    CCALL fillRect, [display], 600, 10, 600, 10, 0xFFFFFF
    CCALL getDC, [display], dc
    WINCALL SetBkMode, [dc], 1
    mov [bkModeResult], eax
    WINCALL SetTextColor, [dc], 0xFFFFFF
    mov [textColourResult], eax
    WINCALL TextOutA, [dc], 200, 300, sFrameText, 12
    mov [textOutResult], eax
    CCALL releaseDC, [display]
    mov eax, 0x31415926                 ; the present hook leaves eax
    CCALL flip, [G_DXDRAW]
    mov [flipEax], eax
    ret

testFirstFrame:
    mov dword [dc], 0
    call drawFrame
    mov eax, [flipEax]
    CHECK "flip.eax", 0x31415926
    mov eax, [dc]
    CHECK "getDC", 4
    mov eax, [bkModeResult]
    CHECK "SetBkMode", 1
    mov eax, [textColourResult]
    CHECK "SetTextColor", 0xFFFFFF
    mov eax, [textOutResult]
    CHECK "TextOutA", 1
    ret

; Polls the window and ends the game when a quit arrives.
pollWindow:
    WINCALL PeekMessageA, message, H_WINDOW, 0, 0, 1
    test eax, eax
    jne .quit
    ret
.quit:
    LOG "QUIT during frames"
    WINCALL ExitProcess, 0
    ret

showFrames:
    mov dword [frameCount], 3
.frame:
    call pollWindow
    call drawFrame
    dec dword [frameCount]
    jne .frame
    ret

; ---- Input: a key tap and a click, each reported once ----------------------
; Runs frames until a game key has gone down and the left button has been
; pressed (each counted from released), or INPUT_FRAMES frames have passed.
inputPhase:
    push ebx
    push esi
    LOG "INPUT waiting for a key tap and a click"
    mov ebx, HEAP_DXINPUT
    mov dword [frameCount], INPUT_FRAMES
.frame:
    call pollWindow
    CCALL pollKeyboard, ebx
    CCALL pollMouse, ebx
    ; Keys: report each game key that went down since the last frame.
    mov esi, gameKeys
.key:
    ZERO eax
    mov al, [esi]
    test al, al
    je .keysDone
    ZERO ecx
    mov cl, [ebx + 46 + eax]
    ZERO edx
    mov dl, [keyWasDown + eax]
    mov [keyWasDown + eax], cl
    test ecx, ecx
    je .nextKey
    test edx, edx
    jne .nextKey
    call reportKey
.nextKey:
    inc esi
    jmp .key
.keysDone:
    ; The left button.
    ZERO eax
    mov al, [ebx + 28]
    ZERO edx
    mov dl, [leftWasDown]
    mov [leftWasDown], eax
    test eax, eax
    je .drawn
    test edx, edx
    jne .drawn
    call reportClick
.drawn:
    call drawFrame
    mov eax, [keySeen]
    and eax, [clickSeen]
    jne .done
    dec dword [frameCount]
    jne .frame
.done:
    pop esi
    pop ebx
    ret

; reportKey(eax = scan code): logs the key and hands it to the game's key
; dispatch.
reportKey:
    push ebx
    push esi
    push edi
    mov ebx, eax
    mov dword [keySeen], 1
    mov edi, lineBuffer
    mov esi, sInputKey
    call appendString
    mov eax, ebx
    call appendHex
    mov byte [edi], 0
    push dword lineBuffer
    call logLine
    add esp, 4
    mov eax, dispatchRecords
    add eax, 6 * 6
    push ebx
    push eax
    push dword dispatchRecords
    call dispatchKeys
    add esp, 12
    pop edi
    pop esi
    pop ebx
    ret

; reportClick: logs the position, then shows that a press is hidden once a
; watched dword changes while the button is held.
reportClick:
    push edi
    push esi
    mov dword [clickSeen], 1
    mov edi, lineBuffer
    mov esi, sInputClick
    call appendString
    mov eax, [ebx + 32]
    call appendDecimal
    mov byte [edi], ' '
    inc edi
    mov eax, [ebx + 36]
    call appendDecimal
    mov byte [edi], 0
    push dword lineBuffer
    call logLine
    add esp, 4
    add dword [watchedObject + 0xA4], 1
    CCALL pollMouse, ebx
    ZERO eax
    mov al, [ebx + 28]
    CHECK "pollMouse.watchHidesPress", 0
    call refreshLeft
    CHECK "refreshLeftButton.object", HEAP_DXINPUT
    ZERO eax
    mov al, [ebx + 28]
    CHECK "refreshLeftButton.hidesPress", 0
    pop esi
    pop edi
    ret

; ---- The end: window, libraries, quit ---------------------------------------
testEnding:
    WINCALL DestroyWindow, H_WINDOW
    CHECK "DestroyWindow", 1
    WINCALL UnregisterClassA, sClassName, 1
    CHECK "UnregisterClassA", 1
    call releaseLibraries
    mov eax, [G_DXDRAW]
    or eax, [G_DXINPUT]
    CHECK "releaseLibraries.end", 0
    mov eax, 0x0BADCAFE
    WINCALL PostQuitMessage, 0
    CHECK "PostQuitMessage.eax", 0x0BADCAFE
    mov dword [frameCount], 100
.poll:
    mov dword [message + 4], 0
    WINCALL PeekMessageA, message, H_WINDOW, 0, 0, 1
    test eax, eax
    jne .quit
    dec dword [frameCount]
    jne .poll
.quit:
    CHECK "PeekMessageA.quit", 1
    mov eax, [message + 4]
    CHECK "PeekMessageA.WM_QUIT", 0x12
    ret

writeSummary:
    push edi
    push esi
    mov edi, lineBuffer
    mov esi, sSummary
    call appendString
    mov eax, [checkCount]
    call appendDecimal
    mov esi, sSummaryChecks
    call appendString
    mov eax, [failCount]
    call appendDecimal
    mov esi, sSummaryFailed
    call appendString
    mov byte [edi], 0
    push dword lineBuffer
    call logLine
    add esp, 4
    pop esi
    pop edi
    ret

; ---- 0x40f040: the game's key dispatch ------------------------------------
; dispatchKeys(records, end, key): calls the routine of every 6-byte record
; whose byte 1 is the key's low byte. Frame: ebp - 4 = end.
TEXT_AT 0x40f040
dispatchKeys:
    push ebp
    mov ebp, esp
    sub esp, 4
    push ebx
    push esi
    mov ebx, [ebp + 8]
    mov eax, [ebp + 12]
    mov [ebp - 4], eax
    mov esi, [ebp + 16]
    FALL_TO 0x40f067
    HOOK_BYTES 0x40f067, 0x40f079       ; patchDispatchLoop
    mov [dispatchEnd], ebx
    mov [dispatchEax], eax
    pop esi
    pop ebx
    mov esp, ebp
    pop ebp
    ret

; The dispatched routines: each notes its key (esi).
keyRoutine:
    mov [dispatchedKey], esi
    inc dword [routineCalls]
    ret
keyRoutineOther:
    inc dword [failCount]
    LOG "CHECK patchDispatchLoop.wrongRecord FAIL"
    ret
keyRoutineEnter:
    LOG "INPUT dispatched Enter"
    ret
keyRoutineEsc:
    LOG "INPUT dispatched Esc"
    ret
keyRoutineDigit:
    LOG "INPUT dispatched digit"
    ret
keyRoutineF1:
    LOG "INPUT dispatched F1"
    ret

; The last 16 raw bytes: chosen by tools/testgame/digest.py so that the code
; digest is the accepted one. Zero in the unforged build.
TEXT_AT TEXT_VA + TEXT_SIZE - 16
digestBytes:
    times 16 db 0

; ==== .rdata =================================================================
section .rdata start=RDATA_FILE vstart=RDATA_VA

; ---- Imports: DLL names in upper case, one unbound function, one ordinal ----
%macro KERNEL32_IMPORTS 0
    IMPORT ExitProcess
    IMPORT GetACP
    IMPORT GetCommandLineA
    IMPORT GetCPInfo
    IMPORT GetEnvironmentStrings
    IMPORT GetFileType
    IMPORT GetModuleFileNameA
    IMPORT GetModuleHandleA
    IMPORT GetProcAddress
    IMPORT GetStartupInfoA
    IMPORT GetStdHandle
    IMPORT GetVersionExA
    IMPORT GlobalMemoryStatus
    IMPORT RaiseException
    IMPORT SetHandleCount
    IMPORT VirtualAlloc
    IMPORT VirtualFree
    IMPORT Sleep                        ; not emulated: its slot stays unbound
    IMPORT_ORDINAL ordinal, 1
%endmacro
%macro USER32_IMPORTS 0
    IMPORT LoadIconA
    IMPORT LoadCursorA
    IMPORT GetSystemMetrics
    IMPORT ShowCursor
    IMPORT SetRect
    IMPORT PostQuitMessage
    IMPORT RegisterClassExA
    IMPORT CreateWindowExA
    IMPORT MoveWindow
    IMPORT ShowWindow
    IMPORT PeekMessageA
    IMPORT DestroyWindow
    IMPORT UnregisterClassA
%endmacro
%macro GDI32_IMPORTS 0
    IMPORT GetStockObject
    IMPORT SetBkMode
    IMPORT SetTextColor
    IMPORT TextOutA
%endmacro
%macro WINMM_IMPORTS 0
    IMPORT timeGetTime
%endmacro
%macro ALL_IMPORTS 1
    %1 KERNEL32
    %1 USER32
    %1 GDI32
    %1 WINMM
%endmacro

importDirectory:
%macro DESCRIPTOR 1
    dd RVA(lookup_%1), 0, 0, RVA(dllName_%1), RVA(slots_%1)
%endmacro
    ALL_IMPORTS DESCRIPTOR
    times 5 dd 0
importDirectoryEnd:

; The lookup tables, then the import address tables (the slots).
%macro IMPORT 1
    dd RVA(hintName_%1)
%endmacro
%macro IMPORT_ORDINAL 2
    dd 0x80000000 | %2
%endmacro
%macro LOOKUP 1
lookup_%1:
    %{1}_IMPORTS
    dd 0
%endmacro
    ALL_IMPORTS LOOKUP
%unmacro IMPORT 1
%unmacro IMPORT_ORDINAL 2
%macro IMPORT 1
imp_%1: dd RVA(hintName_%1)
%endmacro
%macro IMPORT_ORDINAL 2
imp_%1: dd 0x80000000 | %2
%endmacro
%macro SLOTS 1
slots_%1:
    %{1}_IMPORTS
    dd 0
%endmacro
    ALL_IMPORTS SLOTS
%unmacro IMPORT 1
%unmacro IMPORT_ORDINAL 2
%macro IMPORT 1
hintName_%1:
    dw 0
    %defstr %%name %1
    db %%name, 0
    align 2, db 0
%endmacro
%macro IMPORT_ORDINAL 2
%endmacro
%macro HINT_NAMES 1
    %{1}_IMPORTS
%endmacro
    ALL_IMPORTS HINT_NAMES
dllName_KERNEL32: db "KERNEL32.DLL", 0
dllName_USER32:   db "USER32.DLL", 0
dllName_GDI32:    db "GDI32.DLL", 0
dllName_WINMM:    db "WINMM.DLL", 0

; ---- The export directory: one function ------------------------------------
    align 4, db 0
exportDirectory:
    dd 0, 0
    dw 0, 0
    dd RVA(exportModuleName)
    dd 1                                ; Base
    dd 1, 1                             ; functions, names
    dd RVA(exportFunctions), RVA(exportNames), RVA(exportOrdinals)
exportFunctions: dd RVA(exportedFunction)
exportNames:     dd RVA(exportName)
exportOrdinals:  dw 0
exportName:      db "QuorlenExport", 0
exportModuleName: db "Quorlen.exe", 0
exportDirectoryEnd:

; ---- TLS: the template, the zero fill, the index variable ------------------
    align 4, db 0
tlsDirectory:
    dd tlsTemplate, tlsTemplateEnd, tlsIndex, tlsCallbacks, 16, 0
tlsCallbacks: dd 0
tlsTemplate:  db "QSLT", 1, 2, 3, 4, 5, 6, 7, 8, 0x0A, 0x0B, 0x0C, 0x0D
tlsTemplateEnd:

; ---- Strings and constants -------------------------------------------------
sCheck:        db "CHECK ", 0
sOk:           db " ok", 0
sFailGot:      db " FAIL got=", 0
sWant:         db " want=", 0
sSummary:      db "SUMMARY ", 0
sSummaryChecks: db " checks, ", 0
sSummaryFailed: db " failed", 0
sInputKey:     db "INPUT key ", 0
sInputClick:   db "INPUT click ", 0
hexDigits:     db "0123456789abcdef"
sProgramPath:  db "C:\Quorlen\Quorlen.exe", 0
sEmpty:        db 0
sKernel32Upper: db "KERNEL32.DLL", 0
sKernel32Lower: db "kernel32.dll", 0
sKernel32Bare: db "kernel32", 0
sUser32:       db "user32.dll", 0
sGetACP:       db "GetACP", 0
sGetSystemMetrics: db "GetSystemMetrics", 0
sBorland32:    db "Borland32", 0
sBorland32Lower: db "borland32", 0
sExportName:   db "QuorlenExport", 0
sClassName:    db "QuorlenTestClass", 0
sWindowName:   db "Quorlen test game", 0
sFrameText:    db "QUORLEN TEST", 0
nameRoad:      db "Data\pictures\road.bmp", 0
nameSprite:    db "Data\pictures\sprite.bmp", 0
nameOdd:       db "Data\pictures\odd.bmp", 0
nameCD:        db "Data\pictures\CD07.bmp", 0
nameMissing:   db "Data\pictures\missing.bmp", 0
; The six game keys, zero-terminated.
gameKeys:      db KEY_ENTER, KEY_ESC, KEY_1, KEY_2, KEY_3, KEY_F1, 0
    align 8, db 0
twoPointFive:  dq 2.5
thousand:      dq 1000.0
two:           dq 2.0
oneFloat:      dd 1.0
seven:         dd 7

; ==== .data ==================================================================
section .data start=DATA_FILE vstart=DATA_VA
checkCount:    dd 0
failCount:     dd 0
entryEsp:      dd 0
releaseMarker: dd 0
createMarker:  dd 0
tlsIndex:      dd 0x7E57F00D            ; set to 0 by the image set-up
copyEax:       dd 0
routineCalls:  dd 0
routineOrder:  dd 0
routineAArg:   dd 0
routineBArg:   dd 0
dispatchEnd:   dd 0
dispatchEax:   dd 0
dispatchedKey: dd 0
display:       dd 0
dc:            dd 0
bkModeResult:  dd 0
textColourResult: dd 0
textOutResult: dd 0
flipEax:       dd 0
timeStart:     dd 0
keySum:        dd 0
buttonsBefore: dd 0
frameCount:    dd 0
keySeen:       dd 0
clickSeen:     dd 0
leftWasDown:   dd 0
    align 8, db 0
x87Result:     dq 0

; ---- 0x413148: the game's globals -------------------------------------------
DATA_AT G_DXDRAW
    dd 0                                ; 0x413148 the DXDraw object
    dd 0                                ; 0x41314c the DXInput object
    dd 0                                ; 0x413150 the object with the watched dwords
    times 9 dd 0                        ; 0x413154 .. 0x413177
    dd 0                                ; 0x413178 the branch patch's value
    dd 0                                ; 0x41317c
DATA_AT 0x413180
; Key dispatch records: byte 0 unused, byte 1 the key, bytes 2-5 a routine.
dispatchRecords:
    db 0, 0x41
    dd keyRoutineOther
    db 0, 0x42
    dd keyRoutine
    db 0, 0x43
    dd keyRoutineOther
; The game keys' records: reportKey dispatches over all six records (the
; first three never match a game key).
    db 0, KEY_ENTER
    dd keyRoutineEnter
    db 0, KEY_ESC
    dd keyRoutineEsc
    db 0, KEY_F1
    dd keyRoutineF1
    align 4, db 0
; Layer objects, 96 bytes each.
layerRoad:     times 96 db 0x55
layerSprite:   times 96 db 0x55
layerOdd:      times 96 db 0x55
layerCD:       times 96 db 0x55
layerSpare:    times 96 db 0x55
; The object whose dwords at +0xA0 and +0xA4 the mouse poll watches.
watchedObject: times 42 dd 0x1000
; The picture copy's structure: nine buffer addresses at +0x34.
pictureTable:  times 0x34 / 4 + 9 dd 0
; Windows structures.
cpInfo:        times 20 db 0
startupInfo:   times 68 db 0
versionInfo:   times 148 db 0
memoryStatus:  times 32 db 0
rect:          times 4 dd 0
message:       times 8 dd 0
windowClass:   times 12 dd 0
fileName:      times 260 db 0
keyWasDown:    times 256 db 0
lineBuffer:    times 256 db 0
DATA_AT DATA_VA + DATA_SIZE
