// The program's entry point and start-up sequence, above every other
// package. WinMain, run and the Windows half are main.cpp (Windows only);
// the sequence from the native handlers on is main_guest.cpp, portable; the
// small helpers that core's users share are startup.h.
#pragma once

#include <string>
#include <vector>

namespace peloader {
class Program;
}

namespace app {

// The process command line split by CommandLineToArgvW, in UTF-8; element 0
// is the program path as written on the command line.
std::vector<std::string> getArgs();
// The folder of the running executable, in UTF-8.
std::string getExecutableDir();
// The start-up sequence and the guest run. hInstance is the program's
// HINSTANCE. Every failure leaves it as an exception.
void run(void* hInstance, const std::vector<std::string>& args);

// run from the accepted game executable on: registers every native handler,
// builds the guest image and process, GDI and the viewport, then runs the
// guest from its entry point. Returns when the guest has ended; a guest
// failure (ProgramException) is logged, followed by the machine dump, and
// ends as abortProgram(program, "VM execution error"). It reaches the engine
// through src/engine/*.h only: the real engine in the program, the recording
// fake in native tests.
void runGuestProgram(const peloader::Program& program);

}  // namespace app
