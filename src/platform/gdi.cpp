#include "platform/gdi.h"

#include "engine/engine.h"
#include "machine/machineState.h"
#include "platform/string.h"

namespace platform {

using app::ProgramException;

namespace {

Handle backSurfaceDC;
bool backSurfaceDCAcquired = false;
Handle stockObjectHandle;

constexpr uint32_t blackBrush = 4;
constexpr uint32_t transparent = 1;
constexpr uint32_t white = 0xFFFFFF;

bool isBackSurfaceDC(Handle dc) { return !dc.isNull() && dc == backSurfaceDC; }

void GetStockObject() {
    uint32_t object = arg32(1).v;
    if (object != blackBrush) throw ProgramException("Unsupported argument");
    returnFromFunction(stockObjectHandle);
}

// The background is always transparent and the text colour is the font's:
// nothing is stored.
void SetBkMode() {
    Handle dc = argHandle(1);
    uint32_t mode = arg32(2).v;
    if (!isBackSurfaceDC(dc) || mode != transparent) throw ProgramException("Unsupported arguments");
    returnFromFunction(1u);
}

void SetTextColor() {
    Handle dc = argHandle(1);
    uint32_t colour = arg32(2).v;
    if (!isBackSurfaceDC(dc) || colour != white) throw ProgramException("Unsupported arguments");
    returnFromFunction(white);
}

// The characters are checked before the DC. Whether the DC is acquired at
// the moment is not tested.
void TextOutA() {
    ArgumentView args = viewArguments(5);
    Handle dc = args.argHandle(1);
    int32_t x = args.argInt32(2);
    int32_t y = args.argInt32(3);
    Addr text = args.argAddr(4);
    uint32_t count = args.arg32(5).v;
    std::string checked = toAsciiString(machine::hostSlice(text, count));
    if (!isBackSurfaceDC(dc)) throw ProgramException("Unsupported arguments");
    engine::drawText(x, y, checked);
    returnFromFunction(1u);
}

constexpr char gdi32[] = "gdi32.dll";

constexpr FunctionRow gdiFunctions[] = {
    {gdi32, "GetStockObject", 0xF0003000, 4, GetStockObject},
    {gdi32, "SetBkMode", 0xF0003001, 8, SetBkMode},
    {gdi32, "SetTextColor", 0xF0003002, 8, SetTextColor},
    {gdi32, "TextOutA", 0xF0003003, 20, TextOutA},
};

}  // namespace

void registerGdiFunctions() { registerFunctions(gdiFunctions); }

void initGdi() {
    backSurfaceDC = newHandle();
    stockObjectHandle = newHandle();
}

Handle acquireBackSurfaceDC() {
    if (backSurfaceDCAcquired) throw ProgramException("Back surface DC already acquired");
    backSurfaceDCAcquired = true;
    return backSurfaceDC;
}

void releaseBackSurfaceDC() {
    if (!backSurfaceDCAcquired) throw ProgramException("Back surface DC not acquired");
    backSurfaceDCAcquired = false;
}

void resetGdiForTests() {
    backSurfaceDC = stockObjectHandle = Handle{};
    backSurfaceDCAcquired = false;
}

}  // namespace platform
