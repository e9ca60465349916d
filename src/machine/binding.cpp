// The tables that bind guest addresses to native handlers, and imported
// functions (by DLL and name) to guest addresses.
#include "machine/binding.h"

namespace machine {

namespace {
BoundImports boundImports;
std::unordered_map<uint32_t, NativeHandler> handlers;
uint32_t version = 0;
}  // namespace

void bindFunction(const std::string& dll, const std::string& name, Addr address,
                  NativeHandler handler) {
    boundImports[dll][name] = address.v;
    handlers[address.v] = handler;
    ++version;
}

void bindHook(Addr address, NativeHandler handler) {
    handlers[address.v] = handler;
    ++version;
}

const BoundImports& getImports() { return boundImports; }

const std::unordered_map<uint32_t, NativeHandler>& getHandlers() { return handlers; }

uint32_t bindingsVersion() { return version; }

std::string normalizeDllName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

bool lookupImport(const std::string& dll, const std::string& name, uint32_t& address) {
    address = 0;
    auto functions = boundImports.find(dll);
    if (functions == boundImports.end()) return false;
    auto bound = functions->second.find(name);
    if (bound == functions->second.end()) return false;
    address = bound->second;
    return true;
}

void resetBindingsForTests() {
    boundImports.clear();
    handlers.clear();
    ++version;
}

}  // namespace machine
