#include "host/qt_console.h"

#include <QDateTime>
#include <QMetaObject>
#include <QString>

#include <utility>

namespace quelvar::host {

QtOperatorConsole::QtOperatorConsole(QObject* parent) : QObject(parent) {}

void QtOperatorConsole::countModule() {
  pendingModules_.fetch_add(1);
  ScheduleFlush();
}

void QtOperatorConsole::log(std::string entry) {
  if (echo_ != nullptr) echo_->log(entry);
  QString time = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
  {
    std::lock_guard lock(entriesMutex_);
    pendingEntries_.emplace_back(std::move(entry), std::move(time));
  }
  ScheduleFlush();
}

void QtOperatorConsole::ScheduleFlush() {
  // Whoever finds no flush posted posts one; an update recorded after a
  // flush has cleared the flag is seen by that flush or posts the next one.
  if (!flushPosted_.exchange(true)) {
    QMetaObject::invokeMethod(this, &QtOperatorConsole::Flush, Qt::QueuedConnection);
  }
}

void QtOperatorConsole::Flush() {
  flushPosted_.store(false);
  std::vector<std::pair<std::string, QString>> entries;
  {
    std::lock_guard lock(entriesMutex_);
    entries.swap(pendingEntries_);
  }
  const int modules = pendingModules_.exchange(0);
  if (modules != 0) emit modulesCounted(modules);
  if (!entries.empty()) {
    QStringList texts;
    QStringList times;
    texts.reserve(static_cast<qsizetype>(entries.size()));
    times.reserve(static_cast<qsizetype>(entries.size()));
    for (auto& [entry, time] : entries) {
      texts.push_back(QString::fromStdString(entry));
      times.push_back(std::move(time));
    }
    emit entriesLogged(texts, times);
  }
}

}  // namespace quelvar::host
