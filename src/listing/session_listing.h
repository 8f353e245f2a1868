#pragma once

// --list-sessions: one JSON line on stdout of the processes that own audio sessions on the
// active playback devices, with diagnostic lines on stderr.
void listAudioSessions();
