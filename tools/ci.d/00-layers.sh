#!/usr/bin/env bash
# Checks that every source file under src/ includes only what its package's
# layer allows: the table "Layers" in docs/ARCHITECTURE.md says which folders
# form each package and what each package may include. Prints every include
# that goes against it (file:line, the header and the rule) and fails.
#
#   bash tools/ci.d/00-layers.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
exec python3 - "$root" <<'PYTHON'
import pathlib, re, sys

root = pathlib.Path(sys.argv[1])
src = root / "src"

# | `package` | `src/dir/`, ... | `package`, `src/file.h`, ... |
def read_layers():
    text = (root / "docs" / "ARCHITECTURE.md").read_text(encoding="utf-8")
    section = text.split("## Layers", 1)[1].split("\n## ", 1)[0]
    layers = {}
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not cells[0].startswith("`"):
            continue
        name = cells[0].strip("`")
        folders = re.findall(r"`src/([^`]*)`", cells[1])
        allowed = re.findall(r"`([^`]*)`", cells[2])
        layers[name] = (folders, allowed)
    if not layers:
        sys.exit("layers: no table under '## Layers' in docs/ARCHITECTURE.md")
    return layers

layers = read_layers()

# The package of a path under src/: a folder entry ("machine/") holds every
# file below it; the core entry ("*") holds the files directly in src/.
def package_of(relative):
    parts = pathlib.PurePosixPath(relative).parts
    for name, (folders, _) in layers.items():
        for folder in folders:
            if folder == "*" and len(parts) == 1:
                return name
            if folder.endswith("/") and parts[0] == folder.rstrip("/"):
                return name
    return None

def allows(package, header):
    for rule in layers[package][1]:
        if rule.startswith("src/"):
            if header == rule[len("src/"):]:
                return True
        elif package_of(header) == rule:
            return True
    return package_of(header) == package

include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
problems = 0
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp", ".c"):
        continue
    relative = path.relative_to(src).as_posix()
    package = package_of(relative)
    if package is None:
        print(f"src/{relative}: in no package of the layer table")
        problems += 1
        continue
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        found = include.match(line)
        if not found:
            continue
        header = found.group(1)
        beside = path.parent / header
        target = beside if beside.exists() else src / header
        if not target.exists():
            continue  # generated or outside src/ (the OpenGL loader)
        header = target.resolve().relative_to(src.resolve()).as_posix()
        if not allows(package, header):
            others = ", ".join(layers[package][1]) or "nothing but itself"
            print(f"src/{relative}:{number}: {package} may not include {header} "
                  f"(it may include {others})")
            problems += 1
sys.exit(1 if problems else 0)
PYTHON
