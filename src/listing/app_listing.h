#pragma once

#include <windows.h>

#include <string>

// --list-apps: one JSON line on stdout of the processes that own a visible, titled, unowned
// top-level window that is not a tool window.
void listApps();

// EnumWindows callback: adds the window's process to the std::set<DWORD> behind `processes`.
BOOL CALLBACK collectWindowProcess(HWND window, LPARAM processes);

// The full Win32 image path of the process; empty on any failure.
std::wstring queryProcessImagePath(DWORD pid);

// The file description of the first translation in the file's version information; empty
// when there is none.
std::wstring queryFileDescription(const std::wstring& path);
