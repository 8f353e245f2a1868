#pragma once

#include <cstddef>

// Where the log's finished lines go: standard error, written past the C runtime's streams, so
// that a host that has stopped reading holds up only the thread that writes the log. One
// implementation per platform (log_output_windows.cpp, log_output_linux.cpp). Called from the
// log's writer thread alone; blocks while the host does not read.
//
// `text` is one or more whole lines, each ended by LF; Windows writes each LF as CR LF, as its
// text-mode standard error always has.
void writeLogOutput(const char* text, std::size_t size);
