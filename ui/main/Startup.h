// Starting a run of the program, in the one order that works.
#pragma once

#include <functional>

namespace tarnwick {

class Form1;

// Settles how the run pings and gives up its capabilities before anything of Qt is loaded; then
// starts Qt with the fonts loading meanwhile, loads the main window with the system's services
// and shows it, and returns what `run` returns for the shown window (the program runs the event
// loop there). A run that may not go on says why on standard error and returns EXIT_FAILURE.
// `argc` must outlive the call, as QApplication keeps it.
int RunTarnwick(int& argc, char** argv, const std::function<int(Form1&)>& run);

} // namespace tarnwick
