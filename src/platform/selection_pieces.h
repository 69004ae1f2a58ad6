#pragma once

namespace vmx {

// Lets other programs paste a large text selection or clipboard of this program in pieces.
//
// On X11 a paste in another program asks the owner of the selection for its text, and Qt makes
// all of it, in the encoding asked for, on the window's thread and hands it over in one request
// on the connection the windows paint through: a selected message window of tens of megabytes
// then holds the window for hundreds of milliseconds, and a paste as STRING or TEXT makes two
// more copies of it each time. With this installed, every request for a text above
// kLargeSelectionBytes is answered here instead, whatever it asks for and whoever asks, except
// TARGETS and TIMESTAMP, which Qt answers without the text:
// - UTF8_STRING and text/plain come by the X protocol's incremental transfer (ICCCM INCR), one
//   piece of at most kSelectionPieceBytes each time the pasting program asks for the next, so
//   the window paints between the pieces; STRING, TEXT and COMPOUND_TEXT the same way in
//   Latin-1, each piece made from the UTF-8 text as it goes;
// - any other target (MULTIPLE, say) is refused, and so is a transfer beyond
//   kMaxSelectionTransfers at once;
// - a request that names a window of this program as its requestor is not answered: the
//   transfer would have to change what this program hears of that window. On another window
//   (the root window, say) this program's own event mask is kept, with PropertyChangeMask added
//   for the transfer, and put back afterwards.
// The transfers of a selection share its one text; a selection that changes ends them.
// Smaller texts stay with Qt.
//
// Kept rather than replaced by something smaller: Qt's own incremental transfer starts only
// above the X server's largest request (16 MiB on common servers), makes the text over for each
// request and replaces the requestor window's event mask too.
//
// Call once the application object exists; later calls do nothing. Elsewhere than on X11 it
// does nothing.
void serveLargeSelectionsInPieces();

inline constexpr int kLargeSelectionBytes = 256 * 1024;
inline constexpr int kSelectionPieceBytes = 64 * 1024;
inline constexpr int kMaxSelectionTransfers = 8;

} // namespace vmx
