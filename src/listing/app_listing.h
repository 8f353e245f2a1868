#pragma once

// --list-apps: one JSON line on stdout of the processes that own a visible, titled, unowned
// top-level window that is not a tool window.
void listApps();
