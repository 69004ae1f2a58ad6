#pragma once

namespace vmx {

// The program's run once its application object exists: the main window loads the settings,
// shows itself with the focus on its first tab stop, and the event loop runs until EXIT or the
// close box. Returns the program's exit status.
int runProgram();

} // namespace vmx
