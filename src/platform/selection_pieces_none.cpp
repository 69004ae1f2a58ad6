#include "platform/selection_pieces.h"

namespace vmx {

// Only X11 pastes take a selection's text through the window's own display connection.
void serveLargeSelectionsInPieces() {}

} // namespace vmx
