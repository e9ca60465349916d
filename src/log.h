// The program's only diagnostic output: "log.txt" in the data folder.
//
// A line is exactly the caller's text: no time stamp, no level. Every message
// with values has one named function below, so each message has exactly one
// wording. "%d" of an unsigned value prints it unsigned.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// Sets the log's path to dataDir/log.txt and enables it. The file itself is
// created by the first line written, so a run that logs nothing leaves none.
void initLog(const std::string& dataDir);
// True if the log file is open, or once it has been opened now.
bool openLog();
void log(const std::string& message);
void warning(const std::string& message);
// Hands the buffered lines to the system now. Lines are not flushed one by
// one; this is for the moments when a reader may look while the program
// still runs, or the program may be ended from outside (the fatal-error box).
void flushLog();

// Test hook: forgets the log's state and closes the file.
void resetLogForTests();

// ---- Named messages -------------------------------------------------------
void logProgramExecutionAborted(const std::string& message);
void warnDllNameNotFound(const std::string& dllName);
void warnExportNameNotFound(const std::string& name);
void warnModuleNotSupported(uint32_t module);
void warnFunctionNotFoundInModule(const std::string& function, const std::string& dll);
void logEip(uint32_t value);
void logEax(uint32_t value);
void logEcx(uint32_t value);
void logEdx(uint32_t value);
void logEbx(uint32_t value);
void logEsp(uint32_t value);
void logEbp(uint32_t value);
void logEsi(uint32_t value);
void logEdi(uint32_t value);
void logCf(bool flag);
void logDf(bool flag);
void logOf(bool flag);
void logSf(bool flag);
void logZf(bool flag);
void logFpuControlWord(uint16_t value);
void logInvalidAddress(uint32_t address);
void logOpenGLError(uint32_t error);

}  // namespace app
