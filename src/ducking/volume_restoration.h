#pragma once

// Puts the volume from before back on every session of the default playback device whose
// identifier the ledger holds, active or not: a lowered one always, a pending one only while
// it is still at the volume we set. What it put back (or found changed by the user) leaves the
// ledger; the rest stays pending, and the journal follows. The calling thread must be able to
// make COM calls in the multithreaded apartment.
void restoreSessionVolumes();
