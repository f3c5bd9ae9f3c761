#pragma once
// The program with its operator window: the application object, the
// program's title and visual style, the window (created minimised), and a
// signal thread that closes the window on SIGINT or SIGTERM, so that those
// end the program the way closing the window does.

#include <signal.h>

#include <filesystem>

#include "service/standard_handlers.h"

namespace quelvar::host {

// The application title.
inline constexpr char kApplicationTitle[] = "Quelvar 1.5 - Servidor";

class BackupScheduler;
class TFormServer000;
}  // namespace quelvar::host

namespace quelvar {
class OperatorConsole;
}

namespace quelvar::host {

// Starts the scheduled backups of `programFolder` once `window` has first
// started the listener, so that they run on the configured database; a
// schedule that cannot be read is logged on `console`.
void StartBackupsWithTheListener(TFormServer000& window, BackupScheduler& backups, OperatorConsole& console,
                                 const std::filesystem::path& programFolder);

// Runs the window until it is closed, which ends the process with code 0.
// `blockedSignals` are blocked in every thread already; the signal thread takes
// them with sigwait.
// Scheduled backups (backup_schedule.h) run while the window is open.
int RunOperatorWindow(int argc, char** argv, const std::filesystem::path& programFolder, const sigset_t& blockedSignals,
                      service::SelfUpdate selfUpdate = service::SelfUpdate::On);

}  // namespace quelvar::host
