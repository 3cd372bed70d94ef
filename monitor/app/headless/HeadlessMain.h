#pragma once
// XOB_Skyvane --headless: the monitor as a service, without a window.

namespace skyvane {

// Runs the headless monitor until SIGTERM (or SIGINT, SIGHUP); returns the
// program's exit code.
int runHeadless(int argc, char** argv);

} // namespace skyvane
