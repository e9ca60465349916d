#include "log.h"

#include <cstdio>

#include "files.h"
#include "types.h"

namespace app {

namespace {
bool logEnabled = false;
std::string logPath;
std::FILE* logFile = nullptr;

void logRegister(const char* name, uint32_t value) {
    log(format("%s: %u 0x%x", name, value, value));
}
void logFlag(const char* name, bool flag) { log(format("%s: %d", name, flag ? 1 : 0)); }
}  // namespace

void initLog(const std::string& dataDir) {
    logPath = joinPath(dataDir, "log.txt");
    logEnabled = true;
}

bool openLog() {
    if (logFile) return true;
    logFile = openFile(logPath, "wt");
    return logFile != nullptr;
}

void log(const std::string& message) {
    if (!logEnabled || !openLog()) return;
    std::fwrite(message.data(), 1, message.size(), logFile);
    std::fputc('\n', logFile);
}

void warning(const std::string& message) { log("Warning: " + message); }

void flushLog() {
    if (logFile) std::fflush(logFile);
}

void resetLogForTests() {
    if (logFile) std::fclose(logFile);
    logFile = nullptr;
    logEnabled = false;
    logPath.clear();
}

void logProgramExecutionAborted(const std::string& message) {
    log("Program execution aborted: " + message);
}
void warnDllNameNotFound(const std::string& dllName) { warning("DLL name not found: " + dllName); }
void warnExportNameNotFound(const std::string& name) {
    warning("GetProcAddress() export name not found: " + name);
}
void warnModuleNotSupported(uint32_t module) {
    warning(format("GetProcAddress() module not supported: %u", module));
}
void warnFunctionNotFoundInModule(const std::string& function, const std::string& dll) {
    warning("GetProcAddress() function " + function + " not found in module " + dll);
}
void logEip(uint32_t value) { logRegister("eip", value); }
void logEax(uint32_t value) { logRegister("eax", value); }
void logEcx(uint32_t value) { logRegister("ecx", value); }
void logEdx(uint32_t value) { logRegister("edx", value); }
void logEbx(uint32_t value) { logRegister("ebx", value); }
void logEsp(uint32_t value) { logRegister("esp", value); }
void logEbp(uint32_t value) { logRegister("ebp", value); }
void logEsi(uint32_t value) { logRegister("esi", value); }
void logEdi(uint32_t value) { logRegister("edi", value); }
void logCf(bool flag) { logFlag("cf", flag); }
void logDf(bool flag) { logFlag("df", flag); }
void logOf(bool flag) { logFlag("of", flag); }
void logSf(bool flag) { logFlag("sf", flag); }
void logZf(bool flag) { logFlag("zf", flag); }
void logFpuControlWord(uint16_t value) { log(format("FPU cw: 0x%x", static_cast<unsigned>(value))); }
void logInvalidAddress(uint32_t address) { log(format("Address is not valid: 0x%x", address)); }
void logOpenGLError(uint32_t error) { log(format("OpenGL error: %u", error)); }

}  // namespace app
