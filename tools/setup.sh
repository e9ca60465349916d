#!/usr/bin/env bash
# Installs everything the builds and the tests need on Debian 12, as root.
# Idempotent: packages that are there are skipped, and the MinGW build of
# libpng is made only when build/deps/ does not hold it yet.
#
#   bash tools/setup.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="$root/build/deps"

packages=(
  # builds
  cmake g++ make ninja-build dpkg-dev python3 python3-glad nasm
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev googletest libgtest-dev libunicorn-dev libpng-dev libbenchmark-dev
  # fuzzing (libFuzzer comes with clang's runtime library)
  clang libclang-rt-14-dev
  # Wine on a virtual X display, with Mesa's software OpenGL
  wine wine64 xvfb xdotool x11-apps x11-utils x11-xserver-utils imagemagick
  libgl1 libgl1-mesa-dri libxrandr2 libxrender1 libxcursor1 libxi6 libxinerama1
  libxfixes3 libxcomposite1 libxxf86vm1 fonts-wine
)

log() { echo "setup: $*"; }

# One query for the whole list: a package that is not installed (or not
# known at all) is missing.
declare -A installed=()
while read -r name status; do
  if [[ "$status" == installed ]]; then installed[$name]=1; fi
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  [[ -n "${installed[$p]:-}" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing ${missing[*]}: run as root to install them" >&2
    exit 1
  fi
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  log "all packages present"
fi

# ---- libpng, cross-built for MinGW from Debian's own source package -----
pngLib="$deps/libpng/lib/libpng.a"
if [[ -f "$pngLib" && -f "$deps/libpng/include/png.h" ]]; then
  log "libpng for MinGW present"
  exit 0
fi

work="$deps/libpng-src"
rm -rf "$work" "$deps/libpng"
mkdir -p "$work/apt/state/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/etc"

# deb-src lines for the Debian suites that the machine's own apt uses. The
# machine's apt configuration is not touched: this list, its state and its
# cache are private to this folder.
python3 - "$work/apt/etc/sources.list" <<'EOF'
import glob, re, sys
entries = []  # (uri, suite, components)
def add(uri, suites, comps):
    if not re.search(r'/debian(-security)?(/|$)', uri):
        return  # only Debian's own archive has the source package
    for s in suites:
        entries.append((uri, s, comps))
for path in ['/etc/apt/sources.list'] + sorted(glob.glob('/etc/apt/sources.list.d/*.list')):
    try:
        lines = open(path).read().splitlines()
    except OSError:
        continue
    for line in lines:
        line = line.split('#', 1)[0].strip()
        m = re.match(r'deb\s+(\[[^\]]*\]\s+)?(\S+)\s+(\S+)\s*(.*)', line)
        if m:
            add(m.group(2), [m.group(3)], m.group(4).split() or ['main'])
for path in sorted(glob.glob('/etc/apt/sources.list.d/*.sources')):
    for stanza in re.split(r'\n\s*\n', open(path).read()):
        fields = {}
        for line in stanza.splitlines():
            if line.startswith('#') or ':' not in line:
                continue
            key, value = line.split(':', 1)
            fields[key.strip().lower()] = value.split()
        if 'deb' not in fields.get('types', []) or fields.get('enabled', ['yes'])[0] == 'no':
            continue
        for uri in fields.get('uris', []):
            add(uri, fields.get('suites', []), fields.get('components', ['main']))
if not entries:
    sys.exit("setup: apt has no Debian archive configured (no 'deb' entry for a .../debian or\n"
             "  .../debian-security archive in /etc/apt/sources.list or /etc/apt/sources.list.d/);\n"
             "  add the machine's Debian 12 archive there, then run this again")
seen = set()
with open(sys.argv[1], 'w') as out:
    for uri, suite, comps in entries:
        if (uri, suite) in seen:
            continue
        seen.add((uri, suite))
        out.write(f"deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] {uri} {suite} {' '.join(comps)}\n")
EOF

aptOpts=(
  -o "Dir::Etc::SourceList=$work/apt/etc/sources.list"
  -o "Dir::Etc::SourceParts=$work/apt/etc/none"
  -o "Dir::State=$work/apt/state"
  -o "Dir::Cache=$work/apt/cache"
  -o "APT::Sandbox::User=root"
)
log "fetching the libpng1.6 source package"
apt-get "${aptOpts[@]}" update -q || log "some source lists failed; trying with the rest"

versions=$(apt-cache "${aptOpts[@]}" showsrc libpng1.6 | awk '/^Version:/ {print $2}')
[[ -n "$versions" ]] || { echo "setup: no source of libpng1.6 found" >&2; exit 1; }
fetched=
for v in $versions; do
  if (cd "$work" && apt-get "${aptOpts[@]}" source -q "libpng1.6=$v"); then
    fetched=$v
    break
  fi
  log "libpng1.6 $v not downloadable, trying the next version"
done
[[ -n "$fetched" ]] || { echo "setup: no version of libpng1.6 could be downloaded" >&2; exit 1; }

src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpng1.6-*' | head -n1)
[[ -n "$src" && -f "$src/png.h" ]] || { echo "setup: unpacked libpng source not found" >&2; exit 1; }

log "building libpng $fetched for MinGW"
obj="$work/obj"
mkdir -p "$obj" "$deps/libpng/include" "$deps/libpng/lib"
pids=()
cp "$src/scripts/pnglibconf.h.prebuilt" "$obj/pnglibconf.h"
for c in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset \
         pngtrans pngwio pngwrite pngwtran pngwutil; do
  x86_64-w64-mingw32-gcc-posix -O2 -DNDEBUG -I"$obj" -I"$src" -c "$src/$c.c" -o "$obj/$c.o" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
x86_64-w64-mingw32-ar rcs "$pngLib.tmp" "$obj"/*.o
cp "$src/png.h" "$src/pngconf.h" "$obj/pnglibconf.h" "$deps/libpng/include/"
mv "$pngLib.tmp" "$pngLib"
rm -rf "$work"
log "libpng for MinGW in $deps/libpng"
