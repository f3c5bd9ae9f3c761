#include "replica/replica_restore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "replica/replica_objects.h"
#include "tools/restore.h"

namespace quelvar::replica {

namespace {

using namespace std::chrono_literals;

constexpr auto kGetLimit = 600s;

class OutputFile {
 public:
  explicit OutputFile(std::filesystem::path path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd_ < 0) throw std::runtime_error("cannot create " + path_.string() + ": " + std::strerror(errno));
  }
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!kept_) ::unlink(path_.c_str());
  }
  void WriteAt(const std::uint8_t *bytes, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
      done += static_cast<std::size_t>(n);
    }
  }
  void Truncate(std::uint64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      throw std::runtime_error("cannot write " + path_.string() + ": " + std::strerror(errno));
    }
  }
  void Finish() {
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
      fd_ = -1;
      throw std::runtime_error("cannot flush " + path_.string() + ": " + std::strerror(errno));
    }
    fd_ = -1;
  }
  void Keep() { kept_ = true; }
  const std::filesystem::path &path() const { return path_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool kept_ = false;
};

struct Replay {
  std::optional<WalHeader> header;
  std::uint32_t logNumber = 0;
  std::uint32_t frame = 0;
  WalChecksum checksum;
  std::uint32_t pages = 0;  // the database size after the last commit applied, 0: as the snapshot
  std::int64_t lastCommitMs = 0;
};

// Applies the commits of `segment` seen at or before `atMs`; false when the
// replay must stop here (it does not continue, or a commit is past the moment),
// with the reason in `why` when it is not the moment.
bool ApplySegment(const Segment &segment, Replay &replay, std::optional<std::int64_t> atMs, OutputFile &out,
                  std::string &why) {
  const bool sameLog = replay.header && replay.header->SameLog(segment.header);
  if (sameLog) {
    if (segment.logNumber != replay.logNumber || segment.firstFrame != replay.frame + 1 ||
        segment.before != replay.checksum) {
      why = "it does not continue the one before";
      return false;
    }
  } else {
    if (segment.logNumber != replay.logNumber + 1 || segment.firstFrame != 1 ||
        segment.before != segment.header.checksum) {
      why = "it does not start the next log";
      return false;
    }
  }
  const WalPosition from{segment.header, segment.firstFrame - 1, segment.before};
  const WalRun run = VerifyFrames(segment.frames, from);
  if (run.frames.size() != segment.frames.size() || run.commits.size() != segment.commits.size()) {
    why = "its frames do not verify";
    return false;
  }
  const std::size_t frameBytes = segment.header.FrameBytes();
  std::size_t frameIndex = 0;
  for (std::size_t c = 0; c < run.commits.size(); ++c) {
    if (segment.commits[c].index != run.commits[c].frame - segment.firstFrame) {
      why = "its commits do not match its frames";
      return false;
    }
    if (atMs && segment.commits[c].seenMs > *atMs) return false;
    for (; frameIndex <= segment.commits[c].index; ++frameIndex) {
      const std::uint8_t *frame = segment.frames.data() + frameIndex * frameBytes;
      const std::uint32_t page = ReadBigEndian32(frame);
      out.WriteAt(frame + kWalFrameHeaderBytes, segment.header.pageSize,
                  std::uint64_t(page - 1) * segment.header.pageSize);
    }
    replay.header = segment.header;
    replay.logNumber = segment.logNumber;
    replay.frame = run.commits[c].frame;
    replay.checksum = run.commits[c].checksum;
    replay.pages = run.commits[c].pages;
    replay.lastCommitMs = segment.commits[c].seenMs;
  }
  return true;
}

}  // namespace

std::optional<std::int64_t> ParseLocalMoment(const std::string &text) {
  std::tm local{};
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &local.tm_year, &local.tm_mon, &local.tm_mday,
                  &local.tm_hour, &local.tm_min, &local.tm_sec, &used) != 6 ||
      static_cast<std::size_t>(used) != text.size()) {
    return std::nullopt;
  }
  const std::tm asked = local;
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1) || local.tm_mday != asked.tm_mday || local.tm_mon != asked.tm_mon - 1) {
    return std::nullopt;
  }
  // The whole second: every commit seen during it is included.
  return static_cast<std::int64_t>(t) * 1000 + 999;
}

std::string LocalMomentText(std::int64_t ms) {
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

RestoreOutcome RestoreFromReplica(ReplicaStore &store, std::optional<std::int64_t> atMs,
                                  const std::filesystem::path &to) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(to, ec))) {
    throw std::runtime_error(to.string() + " already exists; it is never written over: name a new file");
  }
  const std::filesystem::path folder = to.has_parent_path() ? to.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, ec)) {
    throw std::runtime_error("the folder " + folder.string() + " does not exist");
  }
  const auto generations = GenerationsIn(store.List(std::string(kGenerationsFolder), kGetLimit));
  std::string why = "the replica holds no generation";
  for (auto it = generations.rbegin(); it != generations.rend(); ++it) {
    const auto &[name, keys] = *it;
    if (!keys.snapshot) continue;
    if (atMs && *GenerationStart(name) > *atMs) {
      why = "the replica holds nothing as old as " + LocalMomentText(*atMs);
      continue;
    }
    const auto object = store.Get(SnapshotKey(name), kGetLimit);
    std::optional<std::vector<std::uint8_t>> body;
    if (object) body = OpenObject(*object);
    auto snapshot = body ? ReadSnapshotBody(std::move(*body)) : std::nullopt;
    if (!snapshot) {
      why = "the snapshot of generation " + name + " is damaged or incomplete";
      continue;
    }
    auto &[info, database] = *snapshot;
    if (atMs && info.takenMs > *atMs) continue;

    OutputFile out(folder / ("." + to.filename().string() + ".parcial-" + std::to_string(::getpid())));
    out.WriteAt(database.data(), database.size(), 0);
    Replay replay{info.header, 0, info.frame, info.checksum, 0, info.takenMs};
    RestoreOutcome outcome{name, info.takenMs, 0, ""};
    const std::uint64_t newest = keys.segments.empty() ? 0 : *keys.segments.rbegin();
    for (std::uint64_t number = 1; number <= newest; ++number) {
      const std::string at = "segment " + std::to_string(number) + " of " + std::to_string(newest) + ": ";
      if (keys.segments.count(number) == 0) {
        outcome.stop = at + "missing";
        break;
      }
      const auto segmentObject = store.Get(SegmentKey(name, number), kGetLimit);
      const auto segmentBody = segmentObject ? OpenObject(*segmentObject) : std::nullopt;
      const auto segment = segmentBody ? ReadSegmentBody(*segmentBody) : std::nullopt;
      if (!segment || segment->number != number) {
        outcome.stop = at + "damaged or incomplete";
        break;
      }
      const std::uint32_t frameBefore = replay.frame;
      const std::uint32_t logBefore = replay.logNumber;
      std::string why;
      const bool whole = ApplySegment(*segment, replay, atMs, out, why);
      if (replay.frame != frameBefore || replay.logNumber != logBefore) ++outcome.segments;
      if (!whole) {
        if (!why.empty()) outcome.stop = at + why;
        break;
      }
    }
    outcome.lastCommitMs = replay.lastCommitMs;
    if (replay.pages != 0 && replay.header) out.Truncate(std::uint64_t(replay.pages) * replay.header->pageSize);
    // A self-contained file in the rollback-journal form (header bytes 18 and
    // 19): no side files while it is checked; the server turns it back to the
    // write-ahead log at its first open.
    static constexpr std::uint8_t kRollbackForm[2] = {1, 1};
    out.WriteAt(kRollbackForm, 2, 18);
    out.Finish();
    tools::RequireRestorableDatabase(out.path());
    if (::link(out.path().c_str(), to.c_str()) != 0) {
      throw std::runtime_error("cannot create " + to.string() + ": " + std::strerror(errno));
    }
    return outcome;
  }
  throw std::runtime_error(why);
}

}  // namespace quelvar::replica
