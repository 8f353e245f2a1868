#pragma once

// --list-apps: one JSON line on standard output of the processes that show a visible, titled,
// unowned top-level window.
// - Windows: windows that are no tool windows; the name is the executable's file description,
//   else its file name without the extension.
// - Linux (X11): with a window manager, the windows it manages (_NET_CLIENT_LIST); without one,
//   the mapped children of the root window. A window counts when it carries its process id
//   (_NET_WM_PID) and a title, is owned by no other window (WM_TRANSIENT_FOR) and is no utility,
//   toolbar, dock, desktop, menu or splash window. The name is the Name of the application's
//   desktop entry (the first in $XDG_DATA_HOME, then $XDG_DATA_DIRS, applications/ and its
//   subfolders, whose program is the executable), else the executable's file name. Without an X
//   display (a Wayland-only session) the line is [] and standard error says why.
void listApps();
