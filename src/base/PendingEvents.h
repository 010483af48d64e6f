#pragma once
// Where the core lets the user interface process pending events: the window sets a hook that
// dispatches them; elsewhere it is empty.
#include <functional>

void SetPendingEventsHook(std::function<void()> hook);
void ProcessPendingEvents();
