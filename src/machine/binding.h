// The tables that bind guest addresses to native handlers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "types.h"

namespace machine {

using app::Addr;

// A native handler works on the machine state and guest memory; it must move
// eip before it returns (returnToGuest, or past a replaced stretch).
using NativeHandler = void (*)();

// dll (lower case) -> function name -> bound guest address.
using BoundImports = std::map<std::string, std::map<std::string, uint32_t>>;

void bindFunction(const std::string& dll, const std::string& name, Addr address,
                  NativeHandler handler);
void bindHook(Addr address, NativeHandler handler);
const BoundImports& getImports();
const std::unordered_map<uint32_t, NativeHandler>& getHandlers();
// Changes whenever a binding is made or the tables are reset; the run loop
// rebuilds its flat dispatch tables when it differs from the one they were
// built for.
uint32_t bindingsVersion();
std::string normalizeDllName(const std::string& name);
bool lookupImport(const std::string& dll, const std::string& name, uint32_t& address);

void resetBindingsForTests();

}  // namespace machine
