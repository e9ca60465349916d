#!/usr/bin/env python3
"""Refuses a test-game executable whose code holds an instruction form that
the interpreter does not carry out.

    opcheck.py FILE [--allow-at ADDR]...
    opcheck.py selftest       checks the checker against a table of forms

Disassembles the last code section with objdump (binutils) and checks every
instruction's prefixes, opcode byte, 0x0F second byte, ModRM group field and
x87 form against the interpreter's instruction set. 0xCC bytes are hook bytes
and padding (never executed: the interpreter has no 0xCC); the last 16 bytes
of the section are the digest bytes and are not code. --allow-at names the
address of an instruction that is unsupported on purpose.
"""
import re
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import pe  # noqa: E402

# One-byte map: opcode -> which prefixes the form may carry. "66" = accepts
# 0x66; "fs" = its memory form accepts 0x64 (32-bit accesses only);
# "rm" = has a ModRM byte.
RM = {0x01, 0x03, 0x0A, 0x0B, 0x1B, 0x23, 0x29, 0x2B, 0x32, 0x33, 0x3A, 0x3B, 0x6B,
      0x80, 0x81, 0x83, 0x84, 0x85, 0x88, 0x89, 0x8A, 0x8B, 0x8D, 0xC1, 0xC6, 0xC7,
      0xD1, 0xD3, 0xF6, 0xF7, 0xFE, 0xFF}
PLAIN = {0x05, 0x0D, 0x24, 0x25, 0x2D, 0x3C, 0x3D, 0x68, 0x6A, 0x99, 0x9B, 0x9E,
         0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xC2, 0xC3, 0xE3, 0xE8, 0xE9, 0xEB, 0xFC}
PLAIN |= set(range(0x40, 0x60)) | set(range(0x90, 0x98)) | set(range(0xB0, 0xC0))
PLAIN |= {0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x79, 0x7C, 0x7D, 0x7E, 0x7F}
X87 = {0xD8, 0xD9, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF}
WITH_66 = {0x0B, 0x23, 0x2D, 0x3B, 0x3D, 0x85, 0x89, 0x8B} | set(range(0x40, 0x50)) \
    | set(range(0x90, 0x98)) | set(range(0xB8, 0xC0))
# 32-bit memory forms, where 0x64 works (8- and 16-bit FS accesses fail).
FS_32 = {0x01, 0x03, 0x0B, 0x1B, 0x23, 0x29, 0x2B, 0x33, 0x3B, 0x6B, 0x81, 0x83, 0x85,
         0x89, 0x8B, 0xC1, 0xC7, 0xD1, 0xF7, 0xFF}
TWO_BYTE = {0x83, 0x84, 0x85, 0x86, 0x8C, 0x8D, 0x8E, 0x8F, 0x94, 0x95, 0x9F, 0xAF, 0xB7, 0xBE}
# Groups: reg field -> "" (plain), "66ok" (0x66 optional), "66" (0x66 required).
GROUPS = {
    0x80: {0: "", 1: "", 4: "", 6: "", 7: ""},
    0x81: {0: "", 1: "", 4: "66ok", 5: "66ok", 7: ""},
    0x83: {0: "", 1: "66ok", 2: "", 4: "", 5: "", 7: "66ok"},
    0xC1: {4: "", 5: "", 7: ""},
    0xC6: {0: ""},
    0xC7: {0: "66ok"},
    0xD1: {2: "66", 4: "66", 5: "66ok", 7: ""},
    0xD3: {1: "66", 4: "66", 7: "66"},
    0xF6: {0: ""},
    0xF7: {0: "", 2: "", 3: "", 5: "", 6: "", 7: ""},
    0xFE: {1: ""},
    0xFF: {0: "", 1: "", 2: "", 4: "", 6: ""},
}
X87_REGISTER = {
    0xD8: set(range(0xC8, 0xD8)),
    0xD9: set(range(0xC0, 0xD0)) | {0xE0, 0xE1, 0xE4, 0xE5, 0xE8, 0xEA, 0xEB, 0xED, 0xEE,
                                    0xF0, 0xF1, 0xF3, 0xFA, 0xFC, 0xFD, 0xFE, 0xFF},
    0xDB: {0xE2, 0xE3},
    0xDC: set(),
    0xDD: set(range(0xD8, 0xE0)),
    0xDE: set(range(0xC0, 0xD0)) | {0xD9} | set(range(0xE8, 0xF8)),
    0xDF: set(),
}
X87_MEMORY = {0xD8: {0, 1, 2}, 0xDB: {0, 5, 7}, 0xDC: {0, 1}, 0xDD: {0, 3, 7}, 0xDF: {0, 2, 7}}
X87_FS = {(0xD8, 0), (0xD8, 1)}  # FADD m32, FMUL m32


def check(code):
    """None if the instruction's bytes form a supported instruction, else why not."""
    prefixes = set()
    i = 0
    while i < len(code) and code[i] in (0x64, 0x66, 0x67, 0xF3):
        prefixes.add(code[i])
        i += 1
    if i >= len(code):
        return "prefixes only"
    op = code[i]
    modrm = code[i + 1] if i + 1 < len(code) else None
    memory = modrm is not None and modrm < 0xC0
    reg = (modrm >> 3) & 7 if modrm is not None else None
    refused = set(prefixes)

    if op == 0xF2:
        return None if code[i:i + 2] == b"\xF2\xAE" and not prefixes else "F2 other than REPNZ SCASB"
    if op == 0x0F:
        second = code[i + 1] if i + 1 < len(code) else None
        if second not in TWO_BYTE:
            return "0F %02X is not supported" % (second or 0)
        modrm = code[i + 2] if second in (0x94, 0x95, 0x9F, 0xAF, 0xB7, 0xBE) else None
        if 0x64 in refused and modrm is not None and modrm < 0xC0 and second == 0xAF:
            refused.discard(0x64)
        return "prefix refused" if refused else None
    if op in X87:
        if modrm is None:
            return "x87 escape without ModRM"
        if op == 0xD9 and modrm in (0x6C, 0x6D, 0x7C, 0x7D):
            pass
        elif memory:
            if reg not in X87_MEMORY.get(op, set()):
                return "x87 %02X /%d memory form is not supported" % (op, reg)
            if (op, reg) in X87_FS:
                refused.discard(0x64)
        elif modrm not in X87_REGISTER[op]:
            return "x87 %02X %02X is not supported" % (op, modrm)
        return "prefix refused" if refused else None
    if op not in RM and op not in PLAIN:
        return "opcode %02X is not supported" % op

    if op in GROUPS:
        form = GROUPS[op].get(reg)
        if form is None:
            return "group %02X /%d is not supported" % (op, reg)
        if form == "66":
            if 0x66 not in prefixes:
                return "group %02X /%d needs 0x66" % (op, reg)
            refused.discard(0x66)
        elif form == "66ok":
            refused.discard(0x66)
    elif op in WITH_66:
        refused.discard(0x66)
    if op in (0xA4, 0xA5):
        refused.discard(0xF3)
    if op in (0xA1, 0xA3):
        refused.discard(0x64)
        refused.discard(0x67)
    if op == 0xE3:
        refused.discard(0x67)
    if op in RM and memory:
        if op in FS_32 and 0x66 not in prefixes:
            refused.discard(0x64)
        if op in (0x89, 0x8B) and 0x66 not in prefixes and 0x67 in prefixes:
            if modrm != 0x06 and (modrm & 0xC7) != 0x06:
                return "16-bit address other than disp16"
            refused.discard(0x67)
    return "prefix %s refused" % " ".join("%02X" % p for p in sorted(refused)) if refused else None


# (bytes, supported): the forms NASM likes to pick and their supported twins.
SELFTEST = [
    ("31 c0", False), ("33 c0", True),              # xor eax, eax
    ("39 d8", False), ("3b c3", True),              # cmp eax, ebx
    ("38 d8", False), ("3a c3", True),              # cmp al, bl
    ("c9", False),                                  # leave
    ("0f b6 c0", False), ("0f b7 c0", True), ("0f be c0", True),  # movzx/movsx
    ("0f 82 00 00 00 00", False), ("0f 87 00 00 00 00", False), ("0f 84 00 00 00 00", True),
    ("78 00", False), ("79 00", True),              # js, jns
    ("d1 e0", False), ("66 d1 e0", True), ("c1 e0 01", True), ("d1 e8", True),
    ("d3 e8", False), ("66 d3 e0", True),           # shr/shl by cl
    ("a9 01 00 00 00", False), ("f7 c0 01 00 00 00", True),  # test eax, imm
    ("35 01 00 00 00", False), ("83 f0 01", False), ("80 f0 01", True),  # xor imm
    ("f7 e1", False), ("f7 e9", True), ("f7 f1", True),      # mul, imul, div
    ("fe c0", False), ("fe c8", True),              # inc/dec r/m8
    ("64 a1 2c 00 00 00", True), ("64 8b 00", True), ("64 8a 00", False),
    ("64 8d 00", False), ("64 8b c0", False),       # lea, register form
    ("66 89 c8", True), ("66 01 c8", False), ("67 8b 06 00 00", True), ("67 8b 00", False),
    ("f3 a5", True), ("f3 90", False), ("f2 ae", True), ("f2 a4", False),
    ("aa", False), ("8f 05 00 00 00 00", False), ("69 c0 00 01 00 00", False),
    ("d9 7d fe", True), ("d9 3d 00 00 00 00", False), ("d9 45 00", False),
    ("da c0", False), ("de e8", True), ("de e0", False), ("de c9", True),
    ("dd d8", True), ("dd 05 00 00 00 00", True), ("df 3d 00 00 00 00", True),
    ("64 d8 05 00 00 00 00", True), ("64 dc 05 00 00 00 00", False),
]


def selftest():
    wrong = [(h, want) for h, want in SELFTEST if (check(bytes.fromhex(h)) is None) != want]
    for h, want in wrong:
        print("opcheck selftest: %s should be %s" % (h, "accepted" if want else "refused"))
    if not wrong:
        print("opcheck selftest: %d forms ok" % len(SELFTEST))
    return 1 if wrong else 0


LINE = re.compile(r"^\s*([0-9a-f]+):\s+((?:[0-9a-f]{2} )+)\s*(.*)$")


def disassemble(raw, base, stop):
    with tempfile.NamedTemporaryFile(suffix=".bin") as f:
        f.write(raw)
        f.flush()
        out = subprocess.run(
            ["objdump", "-D", "-b", "binary", "-m", "i386", "--insn-width=16",
             "--adjust-vma=0x%x" % base, "--stop-address=0x%x" % stop, f.name],
            check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = LINE.match(line)
        if m:
            yield int(m.group(1), 16), bytes.fromhex(m.group(2)), m.group(3).strip()


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    if argv == ["selftest"]:
        return selftest()
    allowed = set()
    args = argv[1:]
    while args:
        if args[0] == "--allow-at" and len(args) >= 2:
            allowed.add(int(args[1], 0))
            args = args[2:]
        else:
            print(__doc__, file=sys.stderr)
            return 2
    image = pe.read(argv[0])
    section = image.code_section()
    raw = image.code_raw()
    base = image.image_base + section.virtual_address
    stop = base + len(raw) - 16
    faults = []
    count = 0
    for address, code, text in disassemble(raw, base, stop):
        if code == b"\xCC" or address in allowed:
            continue
        count += 1
        why = check(code)
        if why:
            faults.append("0x%x: %s  (%s; %s)" % (address, code.hex(" "), text, why))
    for fault in faults:
        print("opcheck: %s" % fault, file=sys.stderr)
    if faults:
        print("opcheck: %d unsupported instruction(s) in %s" % (len(faults), argv[0]), file=sys.stderr)
        return 1
    print("opcheck: %d instructions, all supported" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
