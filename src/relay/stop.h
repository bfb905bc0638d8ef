#pragma once
// How the relay program hears it should stop: SIGINT and SIGTERM on Linux,
// Ctrl+C, Ctrl+Break, the console's close and the system's shutdown on
// Windows (stop_windows.cpp).

#include <atomic>

namespace zobra::relay {

// From now on a stop request sets `stop` (which must outlive the process's
// handlers, as a global does) instead of ending the process.
void watch_stop_requests(std::atomic<bool>& stop);

}  // namespace zobra::relay
