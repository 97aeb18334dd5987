#pragma once
// Counts the nested event loops the layer runs (sheets, alerts, choosers,
// menus, drags). Posted closes wait until none is running, so that no window
// goes while one of its callbacks is still on the stack below such a loop.
namespace PPx {

void EnterNestedLoop();
void LeaveNestedLoop();
int NestedLoopDepth();

class NestedLoop {
public:
    NestedLoop() { EnterNestedLoop(); }
    ~NestedLoop() { LeaveNestedLoop(); }
    NestedLoop(const NestedLoop&) = delete;
    NestedLoop& operator=(const NestedLoop&) = delete;
};

} // namespace PPx
