// The program's entry point and start-up sequence (Windows only; the portable
// half is in startup.h).
#pragma once

#include <string>
#include <vector>

namespace app {

// The process command line split by CommandLineToArgvW, in UTF-8; element 0
// is the program path as written on the command line.
std::vector<std::string> getArgs();
// The folder of the running executable, in UTF-8.
std::string getExecutableDir();
// The start-up sequence and the guest run. hInstance is the program's
// HINSTANCE. Every failure leaves it as an exception.
void run(void* hInstance, const std::vector<std::string>& args);

}  // namespace app
