#pragma once

#include <string>

// The browser's controller: start-up, the network check and the way out.
namespace MAIN_CTRL {

// _GCD's start task on the main thread; returns after the Qt application has ended.
void Initialize(int argc, char** argv);
// GUI thread, once the event loop runs: log set-up, then the network check on queue 2.
void Initialize_QtStarted(int argc, char** argv);
// Any task: shows the message in the "Shutdown" box from queue 2, then the program ends.
void Abort(const std::string& message);

}  // namespace MAIN_CTRL
