#include "app/start_arguments.h"

#include "velmarixon_version.h"

#include <string_view>

namespace vmx {

namespace {

// Laid out for help2man, which makes the manual page from it: usage, description, options.
constexpr std::string_view kHelp =
    "Usage: velmarixon [--help | --version]\n"
    "Commission and test a field device over a serial line or UDP.\n"
    "\n"
    "Velmarixon opens its window: choose the link (COM1 to COM4, or UDP), the baud rate\n"
    "and the line format, type the device address and a command, and press SEND. The frame\n"
    "is shown in hexadecimal and written to the device; its acknowledgement (ACK), refusal\n"
    "(NAK) or reply is listed in the message window. When no answer comes within four\n"
    "seconds, a message box says so.\n"
    "\n"
    "The seven settings are kept in velmarixon.ini in the current directory: the file is\n"
    "made there with defaults on the first start, read at every start and written at EXIT.\n"
    "Start the tool in a directory it can write to; where the file cannot be made, it says\n"
    "so and ends.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this text and end\n"
    "  --version      print the version and end\n";

} // namespace

std::optional<std::string> startArgumentsAnswer(int argc, const char* const argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i] ? argv[i] : "";
        if (argument == "--help" || argument == "-h")
            return std::string(kHelp);
        if (argument == "--version")
            return std::string("velmarixon ") + kVersion + "\n";
    }
    return std::nullopt;
}

} // namespace vmx
