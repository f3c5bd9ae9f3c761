#pragma once
// The operator console of the window. Request threads call countModule() and
// log() at any rate; each call only records the update and, when none is
// pending yet, posts one queued flush to the console's own (the window's)
// thread. The flush hands everything recorded so far over in one go through
// the signals below, on the window's thread: no increment is lost, entries
// keep their order and each arrives whole, and no request ever waits for the
// window to draw. Each entry carries the local time it was logged at, and
// goes at once, whole, to the echo console when one is set (standard error in
// window mode, as in the headless run).

#include <QObject>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "data/operator_console.h"

namespace quelvar::host {

class QtOperatorConsole final : public QObject, public OperatorConsole {
  Q_OBJECT

 public:
  explicit QtOperatorConsole(QObject* parent = nullptr);
  // Also writes every entry to `echo` (not its counter); set before any
  // request runs.
  void EchoTo(OperatorConsole* echo) { echo_ = echo; }

  void countModule() override;              // any thread
  void log(std::string entry) override;     // any thread

 signals:
  // `count` service modules were created since the last signal.
  void modulesCounted(int count);
  // Log entries in the order they were written, carriage returns kept, and
  // the local time of each ("dd/MM/yyyy hh:mm:ss").
  void entriesLogged(const QStringList& entries, const QStringList& times);

 private:
  void ScheduleFlush();
  void Flush();  // on the console's thread

  std::atomic<int> pendingModules_{0};
  std::mutex entriesMutex_;
  std::vector<std::pair<std::string, QString>> pendingEntries_;  // entry, time
  OperatorConsole* echo_ = nullptr;
  std::atomic<bool> flushPosted_{false};
};

}  // namespace quelvar::host
