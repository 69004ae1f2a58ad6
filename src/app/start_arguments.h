#pragma once

#include <optional>
#include <string>

namespace vmx {

// The tool has no command line of its own, save two questions answered before any window or
// settings file: --help (or -h) and --version. Returns the text to print and end with status 0
// when one of them is among the arguments (argv[0] is the program), nothing otherwise; every
// other argument is left to Qt, as before. Needs neither a display nor an application object.
std::optional<std::string> startArgumentsAnswer(int argc, const char* const argv[]);

} // namespace vmx
