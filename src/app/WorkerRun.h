#pragma once

#include <functional>

// Runs work on a thread of its own and keeps the window's event loop turning
// until it has finished, so the window stays responsive (Esc, repaints, the
// tray) while the caller reads as one straight sequence. An exception thrown
// by the work is raised again here, on the window's thread.
void RunOnWorkerThread(const std::function<void()>& work);
