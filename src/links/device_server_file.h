#pragma once

#include "links/link_target.h"

#include <optional>

namespace vmx {

// A Com button that leads to a serial device server: a regular file COMn in the working folder
// (not a link to a device) whose one line is an endpoint of a kind a COMn file may name,
// `rfc2217://HOST:PORT` or `socket://HOST:PORT`. Its target, with `line` for a kind that sets
// the line; nullopt when COMn is no such file (the port is then a serial port as always).
std::optional<LinkTarget> deviceServerFile(int portNumber, const std::optional<LineSettings>& line);

} // namespace vmx
