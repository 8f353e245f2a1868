#pragma once

#include <cstdint>
#include <string>

// The target of the link /proc/<pid>/exe: the path of the process's executable, with
// " (deleted)" after it once that file has been replaced or removed. Empty when the link cannot
// be read (a process gone, another user's, a kernel thread).
std::string executableLinkOf(std::uint32_t pid);
