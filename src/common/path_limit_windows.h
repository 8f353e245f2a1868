#pragma once

#include <windows.h>

// The longest path Windows hands out, in UTF-16 units (UNICODE_STRING's limit): a buffer this
// long cuts no long install path.
inline constexpr DWORD kLongestPathLength = 32768;
