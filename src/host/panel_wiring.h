#pragma once
// The operator panel put on the server's listener: the panel's door gets the
// server's state, the settings file and the recent operator log, and a
// settings change that needs it restarts the listener or the replication (on
// a thread of its own, a moment after the answer has gone; when the new
// settings cannot be used by the listener, the previous file is put back and
// the listener started with it).

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/server_control.h"
#include "panel/panel_door.h"
#include "panel/recent_log.h"

namespace quelvar::host {

class PanelWiring {
 public:
  // `log` must be the console `server` was made with.
  PanelWiring(ServerControl& server, panel::RecentLog& log);
  ~PanelWiring();  // takes the door off the listener and ends the restarts

  PanelWiring(const PanelWiring&) = delete;
  PanelWiring& operator=(const PanelWiring&) = delete;

  // Ends the waits of the panel's live log, so that a graceful stop does not
  // wait for them.
  void Wake() { door_.Wake(); }

 private:
  panel::SettingsOutcome WriteSettings(const std::vector<std::pair<std::string, std::string>>& values);
  void Restarts();
  // Starts the listener anew with the file's settings; when they cannot be
  // used, puts `before` (the file's text before the change) back and starts
  // with it.
  void RestartListener(const std::string& before);
  // Stops the running replication and starts it anew from the file.
  void RestartReplication();

  ServerControl& server_;
  panel::RecentLog& log_;
  panel::PanelDoor door_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::optional<std::string> pendingRestart_;  // the file's text before the change
  bool pendingReplication_ = false;
  std::thread restarter_;
};

// The level name ("ERROR", "WARNING", "INFO") of an operator-log entry.
std::string PanelLevelOf(std::string_view entry);

}  // namespace quelvar::host
