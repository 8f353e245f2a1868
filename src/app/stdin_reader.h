#pragma once

// Body of the stdin reader thread: the host's stop and duck-ratio commands.
void stdinReaderMain();
