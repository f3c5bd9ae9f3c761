#include "host/replication_start.h"

namespace quelvar::host {

std::shared_ptr<replica::Replicator> StartReplication(ServerControl& server, const replica::ReplicaSettings& settings) {
  if (!settings.Enabled()) return nullptr;
  std::vector<std::unique_ptr<replica::ReplicaStore>> stores;
  std::string names;
  for (const replica::ReplicaTarget& target : settings.replicas) {
    stores.push_back(replica::OpenStore(target.target, settings.s3));
    names += (names.empty() ? "" : ", ") + target.name + " " + target.target;
  }
  auto replication =
      std::make_shared<replica::Replicator>(settings, std::move(stores), server.SharedDatabasePath(), server.Console());
  server.SetReplication(replication);
  replication->Start();
  server.Console().log("Replication to " + names + ": each save shipped within " +
                       std::to_string(settings.interval.count()) + " ms, restores up to " +
                       std::to_string(settings.retentionDays) + " day(s) back");
  return replication;
}

}  // namespace quelvar::host
