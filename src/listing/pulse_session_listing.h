#pragma once

// --list-sessions on the sound server: the processes that own sink inputs, as one JSON line on
// standard output, with the same exclusions as on Windows. When the server cannot be reached,
// the line is [] and standard error says why.
void listPulseSessions();
