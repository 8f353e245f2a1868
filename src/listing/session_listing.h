#pragma once

// --list-sessions: one JSON line on standard output of the processes that own audio sessions.
// - Windows: the sessions of the active playback devices, with diagnostic lines on stderr.
// - Linux: the processes that own sink inputs (streamOwner), with the same exclusions as on
//   Windows. When the sound server cannot be reached, the line is [] and stderr says why.
void listAudioSessions();
