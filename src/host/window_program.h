#pragma once
// The program with its operator window: the application object, the
// program's title and visual style, the window (created minimised), and a
// signal thread that closes the window on SIGINT or SIGTERM, so that those
// end the program the way closing the window does.

#include <signal.h>

#include <filesystem>
#include <functional>
#include <string>

#include "host/standard_handlers.h"

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
// schedule that cannot be read is logged on `console`. `alsoThen` (may be
// empty) runs right after, for other work that needs the configured database.
void StartBackupsWithTheListener(TFormServer000& window, BackupScheduler& backups, OperatorConsole& console,
                                 const std::filesystem::path& programFolder, std::function<void()> alsoThen = {});

// Said by a second copy started while one runs, which then ends.
inline constexpr char kAlreadyRunningMessage[] =
    "O Servidor do Quelvar já está aberto neste computador.\r\rProcure-o na área de notificação ou na barra de "
    "tarefas.";
// Begins the message of a start-up failure before the window exists.
inline constexpr char kStartupFailureMessage[] = "O Servidor do Quelvar não pôde iniciar:\r";

// A modal message box with `text` ("\r" line breaks) on the running
// application: a warning when `failure`, else information.
void ShowStartupMessageBox(const std::string& text, bool failure);
// The same for a program that has no application yet: makes one, shows the
// box, returns when it is closed.
void ShowStartupMessage(int argc, char** argv, const std::string& text, bool failure);

// Runs the window until it is closed, which ends the process with code 0.
// `blockedSignals` are blocked in every thread already; the signal thread takes
// them with sigwait.
// Scheduled backups (backup_schedule.h) run while the window is open.
int RunOperatorWindow(int argc, char** argv, const std::filesystem::path& programFolder, const sigset_t& blockedSignals,
                      SelfUpdate selfUpdate = SelfUpdate::On);

}  // namespace quelvar::host
