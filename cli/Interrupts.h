// What the tool does when it is stopped from outside.
//
// SIGINT (Ctrl-C), SIGTERM and SIGHUP (a closed terminal): every temporary
// path the running job holds (private folders in the temporary folder, the
// temporary files beside outputs) is removed, nothing already put in place
// under its final name is touched, and the tool exits with 128 + the
// signal's number. A signal ignored when the tool starts (nohup, a background
// job) stays ignored. SIGXFSZ is ignored, so a write past the file-size limit
// fails (EFBIG) and the job's own failure path cleans up and reports it. On
// Windows, Ctrl-C, Ctrl-Break and closing the console do the same.
//
// The library learns nothing of signals: it reports the paths it creates and
// releases through platform::SetTempPathWatcher, which this installs.
#pragma once

namespace cz::cli {

// Call once, first thing in main, before any other thread starts.
void InstallInterruptCleanup();

}  // namespace cz::cli
