#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "common/process_table.h"

// The ducking engine's decisions, apart from the audio session interfaces they steer.

// A ratio at or above this single-precision value means no ducking.
inline constexpr float kDuckOffThreshold = 0.999f;
// The wait after each pass: about one pass a second while nothing changes. A stop or a new
// ratio ends the wait at once.
inline constexpr std::chrono::milliseconds kPassInterval{1000};

enum class PassKind {
    RestoreAndClear,  // the ratio rose to "no ducking": put volumes back, forget them
    Idle,             // no ducking and nothing saved: only wait
    Enumerate,        // walk the sessions with this ratio
};

struct PassPlan {
    PassKind kind;
    bool reapply;  // an enumeration pass sets saved sessions to the new ratio
};

// One pass's plan from the ratio read now, the ratio of the last pass and whether anything is
// saved. A not-a-number on either side counts as a change.
PassPlan planPass(float ratio, float lastRatio, bool nothingSaved);

// What a pass lowers, apart from process id 0 and the excluded names, which it never lowers.
enum class DuckedSessions {
    ByMode,      // the capture mode's own choice (include: the target's tree; exclude: the others)
    TargetTree,  // the target's and the program's trees, in either mode
    Others,      // every process outside both trees, in either mode
};
struct DuckingChoice {
    DuckedSessions sessions = DuckedSessions::ByMode;
    // Processes whose sessions, and their descendants', are never lowered.
    std::vector<std::uint32_t> kept;
};

// A session is a candidate when its process id is not 0 and its relation to the target's or
// the program's tree is the one the capture mode ducks (include: related; exclude: unrelated).
bool isDuckingCandidate(std::uint32_t sessionPid, bool related, bool includeMode);

// A candidate is still left alone when the table names its process and the name is excluded
// ("quillmere", "torvanel", "electron"). A process the table does not hold is not name-tested.
bool isExcludedByName(std::uint32_t sessionPid, const ProcessTable& table);

// Who a pass lowers: a session that plays now (active), is a candidate of the choice (by default
// the capture mode's), by its process's relation to the target's tree or the program's
// (`ownPid`, isRelatedProcess), is not of a kept process or its descendants, and is not excluded
// by name. Every other session is left as it is.
bool isLoweredByPass(std::uint32_t sessionPid, bool active, std::uint32_t targetPid, bool includeMode,
                     const ProcessTable& table, std::uint32_t ownPid, const DuckingChoice& choice = {});

// ratio × volume in single precision.
float duckedVolume(float ratio, float volume);
