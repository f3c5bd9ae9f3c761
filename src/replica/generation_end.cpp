#include "replica/generation_end.h"

#include "replica/replica_objects.h"

namespace quelvar::replica {

std::optional<GenerationEnd> NewestGenerationEnd(ReplicaStore &store, std::chrono::milliseconds limit) {
  const auto generations = GenerationsIn(store.List(std::string(kGenerationsFolder), limit));
  for (auto it = generations.rbegin(); it != generations.rend(); ++it) {
    const auto &[name, keys] = *it;
    if (!keys.snapshot) continue;
    // Segments are sent in order, each once the one before is stored.
    if (keys.segments.empty() || *keys.segments.rbegin() != keys.segments.size()) return std::nullopt;
    const std::uint64_t last = keys.segments.size();
    const auto object = store.Get(SegmentKey(name, last), limit);
    const auto body = object ? OpenObject(*object) : std::nullopt;
    const auto segment = body ? ReadSegmentBody(*body) : std::nullopt;
    if (!segment || segment->number != last || segment->commits.empty()) return std::nullopt;
    const WalRun run = VerifyFrames(segment->frames, {segment->header, segment->firstFrame - 1, segment->before});
    if (run.frames.size() != segment->frames.size() || run.commits.size() != segment->commits.size()) {
      return std::nullopt;
    }
    GenerationEnd end;
    end.name = name;
    end.nextSegment = last + 1;
    end.logNumber = segment->logNumber;
    end.position = {segment->header, run.commits.back().frame, run.commits.back().checksum};
    return end;
  }
  return std::nullopt;
}

}  // namespace quelvar::replica
