// Starting a run of the program, in the one order that works.
#pragma once

#include <functional>

namespace tarnwick {

class Form1;

// Gives up the run's capabilities before anything of Qt is loaded, has large blocks mapped on
// their own, starts Qt, shows the main window over the system's services and returns what `run`
// returns for it (the program runs the event loop there); a run that may not go on says why on
// standard error and returns EXIT_FAILURE. QApplication keeps `argc`, which must outlive the call.
int RunTarnwick(int& argc, char** argv, const std::function<int(Form1&)>& run);

} // namespace tarnwick
