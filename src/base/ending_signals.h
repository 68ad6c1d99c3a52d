#pragma once

#include <functional>

namespace Lifetime {

// Makes SIGTERM, SIGINT and SIGHUP (the session ending, Ctrl+C, a closed terminal) end the program
// the way closing the main window does: the signal handler only writes a byte to a socket pair, and
// `endProgram` runs on the main thread as soon as the event loop sees it, in whatever wait the
// program is. Call once, after the application object exists; later calls change nothing.
void EndOnSignals(std::function<void()> endProgram);

} // namespace Lifetime
