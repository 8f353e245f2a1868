#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Real processes for the program's process-tree rules: a chain of tree_helper.exe copies
// (the first started the second, and so on), optionally under another file name. All of
// them are ended when the object goes.
class ProcessTree {
public:
    // depth 0: one process; depth 1: a parent and its child; ...
    explicit ProcessTree(int depth, const std::string& exeName = "tree_helper.exe");
    ~ProcessTree();
    ProcessTree(const ProcessTree&) = delete;
    ProcessTree& operator=(const ProcessTree&) = delete;

    // Process ids from the first of the chain to the last.
    const std::vector<DWORD>& pids() const { return pids_; }
    DWORD root() const { return pids_.front(); }
    std::string rootText() const { return std::to_string(pids_.front()); }

private:
    std::vector<DWORD> pids_;
};

// What `taskkill /T /F`, Task Manager's "End process tree" and npm's tree-kill do: every process
// below `host` by parent id, from one snapshot, all opened first and then all terminated.
// Returns how many it terminated.
int terminateEverythingBelow(DWORD host);
