// The clipboard: one per process, with the rules of the original platform
// that callers rely on. While another owner holds it open it cannot be
// opened. EmptyClipboard frees what it held and makes the opener its owner.
// SetClipboardData takes the global-memory block: from then on the clipboard
// frees it (when it is emptied or the format is set again), never the caller;
// a refused block stays the caller's.
//
// When a desktop session is present the text set as CF_TEXT is also handed,
// at CloseClipboard, to the desktop's clipboard: wl-copy under Wayland
// (WAYLAND_DISPLAY), xclip or else xsel under X11 (DISPLAY). The tool is
// started without a shell and gets the text on its standard input; it keeps
// serving the text after this process ends. The hand-off waits at most a few
// seconds; without a desktop or a tool it is skipped and the text stays in
// this process's clipboard alone.
#pragma once

#include "platform/win_types.h"

constexpr UINT CF_TEXT = 1;

// The window of this process that has the focus. The process has one.
HWND GetActiveWindow();
BOOL OpenClipboard(HWND owner);
BOOL EmptyClipboard();
// The block on success, null when refused: the clipboard is not open, or it
// was opened without an owner, or the block is not a global-memory block.
HANDLE SetClipboardData(UINT format, HANDLE data);
// While the clipboard is open: the block held in that format, or null.
HANDLE GetClipboardData(UINT format);
BOOL CloseClipboard();

namespace clipboard_testing {

// Another program's window opens the clipboard and holds it open until
// releaseOtherOwner.
void holdOpenByOtherOwner();
void releaseOtherOwner();
// Blocks the clipboard holds now.
int heldBlocks();

}  // namespace clipboard_testing
