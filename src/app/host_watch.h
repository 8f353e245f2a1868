#pragma once

// When the process that started the program ends while standard output is a pipe, nobody reads
// the audio any more, yet without a packet no write fails. The watch stops the capture in order
// then, as a closed pipe would, with the line "[win-helper] Host process ended; stopping
// capture." A parent that is unknown or already gone at start (a program started from Linux
// under Wine has parent 0), or output that is no pipe, is not watched.
void startHostWatch();
