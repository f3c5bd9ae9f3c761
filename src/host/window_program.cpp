#include "host/window_program.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QScreen>

#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "host/backup_schedule.h"
#include "host/headless_console.h"
#include "host/qt_text.h"
#include "host/settings.h"
#include "host/panel_wiring.h"
#include "host/qt_console.h"
#include "host/replica_config.h"
#include "host/replication_start.h"
#include "host/server_control.h"
#include "host/server_window.h"
#include "host/visual_style.h"

namespace quelvar::host {

void StartBackupsWithTheListener(TFormServer000& window, BackupScheduler& backups, OperatorConsole& console,
                                 const std::filesystem::path& programFolder, std::function<void()> alsoThen) {
  window.SetAfterFirstStart([&backups, &console, programFolder, alsoThen = std::move(alsoThen)] {
    try {
      backups.Start(ReadBackupSchedule(programFolder));
    } catch (const std::exception& failure) {
      console.log(std::string("Backup automático --> \r") + failure.what());
    }
    if (alsoThen) alsoThen();
  });
}

void ShowStartupMessageBox(const std::string& text, bool failure) {
  QMessageBox box(failure ? QMessageBox::Critical : QMessageBox::Information, QString::fromUtf8(kApplicationTitle),
                  QtText(WithLineBreaks(text)), QMessageBox::Ok);
  box.setObjectName("StartupMessage");
  box.exec();
}

void ShowStartupMessage(int argc, char** argv, const std::string& text, bool failure) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  ApplyVisualStyle(application);
  ShowStartupMessageBox(text, failure);
}

int RunOperatorWindow(int argc, char** argv, const std::filesystem::path& programFolder, const sigset_t& blockedSignals,
                      SelfUpdate selfUpdate) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  ApplyVisualStyle(application);

  // The log also goes to standard error (the journal when run as a unit), as in the headless run.
  HeadlessConsole standardError;
  QtOperatorConsole console;
  console.EchoTo(&standardError);
  panel::RecentLog recentLog(console, PanelLevelOf);
  ServerControl server(recentLog, programFolder, selfUpdate);
  PanelWiring panel(server, recentLog);
  BackupScheduler backups(server);
  // Closing the window stops the listener, then ends the process at once:
  // requests in progress and open connections are cut off.
  TFormServer000 window(server, console, [] { std::_Exit(0); });
  StartBackupsWithTheListener(window, backups, recentLog, programFolder, [&] {
    try {
      StartReplication(server, ReadReplicaSettings(programFolder));  // the server holds it (the panel may start it anew)
    } catch (const std::exception& failure) {
      recentLog.log(std::string("Replication --> the replication cannot start: ") + failure.what());
    }
  });

  std::thread([&window, blockedSignals] {
    for (;;) {
      int received = 0;
      if (sigwait(&blockedSignals, &received) != 0) continue;
      if (received == SIGINT || received == SIGTERM) {
        QMetaObject::invokeMethod(&window, "close", Qt::QueuedConnection);
        return;
      }
    }
  }).detach();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
  window.showMinimized();
  return QApplication::exec();
}

}  // namespace quelvar::host
