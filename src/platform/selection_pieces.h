#pragma once

namespace vmx {

// Lets other programs paste a large text selection or clipboard of this program in pieces.
//
// On X11 a paste in another program asks the owner of the selection for its text, and Qt hands
// all of it over in one request on the connection the windows paint through: a selected message
// window of tens of megabytes then holds the window for hundreds of milliseconds while the X
// server takes it. With this installed, texts above kLargeSelectionBytes go by the X protocol's
// incremental transfer (ICCCM INCR) instead, one piece of at most kSelectionPieceBytes each
// time the pasting program asks for the next, so the window paints between the pieces. Smaller
// texts, other formats and other requests stay with Qt.
//
// Call once the application object exists; later calls do nothing. Elsewhere than on X11 it
// does nothing.
void serveLargeSelectionsInPieces();

inline constexpr int kLargeSelectionBytes = 256 * 1024;
inline constexpr int kSelectionPieceBytes = 64 * 1024;
inline constexpr int kMaxSelectionTransfers = 8;

} // namespace vmx
