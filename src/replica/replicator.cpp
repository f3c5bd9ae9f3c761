#include "replica/replicator.h"

#include "replica/replica_drill.h"
#include "replica/replica_worker.h"

namespace quelvar::replica {

using namespace std::chrono_literals;
using namespace worker;

Replicator::Replicator(ReplicaSettings settings, std::vector<std::unique_ptr<ReplicaStore>> stores,
                       std::shared_ptr<DatabasePath> database, OperatorConsole &console)
    : settings_(std::move(settings)), database_(std::move(database)), console_(console),
      figures_(std::make_shared<ReplicaFigures>()) {
  std::vector<Replica> replicas;
  for (std::size_t i = 0; i < settings_.replicas.size() && i < stores.size(); ++i) {
    Replica r;
    r.setting = settings_.replicas[i];
    r.store = std::move(stores[i]);
    replicas.push_back(std::move(r));
    ReplicaFigures::One figures;
    figures.name = settings_.replicas[i].name;
    figures.target = settings_.replicas[i].target;
    figures_->replicas.push_back(std::move(figures));
  }
  worker_ = std::make_unique<Worker>(settings_, std::move(replicas), *database_, console_, *figures_);
}

Replicator::~Replicator() { Stop(); }

void Replicator::Start() {
  if (thread_.joinable()) return;
  // The tracker's connection first: turning the engine's checkpoints off
  // closes the pool's idle connections, and the last one to close would fold
  // a log that this start may go on with.
  worker_->Begin();
  database_->Connections().SetServerCheckpoints(true);
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = false;
  }
  thread_ = std::thread([this] {
    std::unique_lock lock(stopMutex_);
    while (!stopping_) {
      lock.unlock();
      const bool behind = worker_->Step();
      lock.lock();
      if (behind) continue;
      stopWake_.wait_for(lock, std::min<std::chrono::milliseconds>(kPoll, settings_.interval / 2),
                         [this] { return stopping_; });
    }
  });
  for (std::size_t i = 0; i < worker_->Replicas(); ++i) shippers_.emplace_back([this, i] { worker_->Ship(i); });
  drill_ = std::thread([this] { Drill(); });
}

void Replicator::Stop() {
  // Two callers (the shutdown and the operator's restart of the replication)
  // may meet here: the second waits and then finds nothing left to stop.
  std::lock_guard whole(stopCall_);
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopWake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
    worker_->Flush();
  }
  for (std::thread &shipper : shippers_) shipper.join();
  shippers_.clear();
  if (drill_.joinable()) drill_.join();
  database_->Connections().SetServerCheckpoints(false);
}

void Replicator::Drill() {
  auto wait = settings_.firstDrillAfter;
  for (;;) {
    {
      std::unique_lock lock(stopMutex_);
      if (stopWake_.wait_for(lock, wait, [this] { return stopping_; })) return;
    }
    wait = settings_.drillEvery;
    RunRestoreDrill(settings_, console_, *figures_);
  }
}

std::string Replicator::MetricsText() const { return figures_->MetricsText(settings_.NowMs()); }

std::string Replicator::HealthNote() const { return figures_->HealthNote(settings_.NowMs(), settings_.interval); }

std::vector<Replicator::State> Replicator::States() const { return figures_->States(settings_.NowMs()); }

}  // namespace quelvar::replica
