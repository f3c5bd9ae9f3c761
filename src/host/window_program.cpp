#include "host/window_program.h"

#include <QApplication>
#include <QMetaObject>
#include <QScreen>

#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "host/backup_schedule.h"
#include "host/panel_wiring.h"
#include "host/qt_console.h"
#include "host/server_control.h"
#include "host/server_window.h"
#include "host/visual_style.h"

namespace quelvar::host {

int RunOperatorWindow(int argc, char** argv, const std::filesystem::path& programFolder, const sigset_t& blockedSignals,
                      service::SelfUpdate selfUpdate) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  ApplyVisualStyle(application);

  QtOperatorConsole console;
  panel::RecentLog recentLog(console, PanelLevelOf);
  ServerControl server(recentLog, programFolder, selfUpdate);
  PanelWiring panel(server, recentLog);
  BackupScheduler backups(server);
  try {
    backups.Start(ReadBackupSchedule(programFolder));
  } catch (const std::exception& failure) {
    recentLog.log(std::string("Backup automático --> \r") + failure.what());
  }
  // Closing the window stops the listener, then ends the process at once:
  // requests in progress and open connections are cut off.
  TFormServer000 window(server, console, [] { std::_Exit(0); });

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
