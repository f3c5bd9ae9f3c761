#pragma once
// Starts the continuous replication Config1.ini asks for on a running
// server: one store per replica, the replicator's thread, and its figures on
// /metrics and /healthz. Logs one line naming the replicas.

#include <memory>

#include "host/server_control.h"
#include "replica/replica_settings.h"
#include "replica/replicator.h"

namespace quelvar::host {

// nullptr when the settings name no replica.
std::shared_ptr<replica::Replicator> StartReplication(ServerControl& server, const replica::ReplicaSettings& settings);

}  // namespace quelvar::host
