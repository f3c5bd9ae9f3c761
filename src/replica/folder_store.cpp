#include "replica/folder_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quelvar::replica {

namespace {

std::string SystemReason(const std::string &what) { return what + ": " + std::strerror(errno); }

void SyncFolder(const std::filesystem::path &folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool IsPartial(const std::string &name) { return name.starts_with(".") && name.find(".parcial-") != std::string::npos; }

}  // namespace

void FolderStore::Put(const std::string &key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path target = root_ / key;
  std::error_code ec;
  // The root itself is never made: a disk that is not mounted must not turn
  // into a folder on the machine's own disk.
  if (!std::filesystem::is_directory(root_, ec)) {
    throw StoreError("the replica folder " + root_.string() + " is not there");
  }
  std::filesystem::create_directories(target.parent_path(), ec);
  if (ec) throw StoreError("cannot create " + target.parent_path().string() + ": " + ec.message());
  const std::filesystem::path partial =
      target.parent_path() / ("." + target.filename().string() + ".parcial-" + std::to_string(::getpid()) + "-" +
                              std::to_string(counter++));
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
  if (fd < 0) throw StoreError(SystemReason("cannot write " + partial.string()));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string reason = SystemReason("cannot write " + partial.string());
      ::close(fd);
      ::unlink(partial.c_str());
      throw StoreError(reason);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const std::string reason = SystemReason("cannot flush " + partial.string());
    ::unlink(partial.c_str());
    throw StoreError(reason);
  }
  if (::rename(partial.c_str(), target.c_str()) != 0) {
    const std::string reason = SystemReason("cannot rename " + partial.string());
    ::unlink(partial.c_str());
    throw StoreError(reason);
  }
  SyncFolder(target.parent_path());
}

std::optional<std::vector<std::uint8_t>> FolderStore::Get(const std::string &key, std::chrono::milliseconds) {
  const std::filesystem::path file = root_ / key;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !ec) return std::nullopt;
    throw StoreError(SystemReason("cannot read " + file.string()));
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw StoreError("cannot read " + file.string());
  return bytes;
}

std::vector<std::string> FolderStore::List(const std::string &prefix, std::chrono::milliseconds) {
  std::vector<std::string> keys;
  std::error_code ec;
  if (!std::filesystem::is_directory(root_, ec)) {
    throw StoreError("the replica folder " + root_.string() + " is not there");
  }
  // Walk the folder the prefix lies in.
  const std::size_t slash = prefix.rfind('/');
  const std::filesystem::path start = slash == std::string::npos ? root_ : root_ / prefix.substr(0, slash);
  if (!std::filesystem::is_directory(start, ec)) return keys;
  for (auto it = std::filesystem::recursive_directory_iterator(start, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file(ec) || IsPartial(it->path().filename().string())) continue;
    const std::string key = it->path().lexically_relative(root_).generic_string();
    if (key.starts_with(prefix)) keys.push_back(key);
  }
  if (ec) throw StoreError("cannot list " + start.string() + ": " + ec.message());
  std::sort(keys.begin(), keys.end());
  return keys;
}

void FolderStore::Remove(const std::string &key, std::chrono::milliseconds) {
  const std::filesystem::path file = root_ / key;
  std::error_code ec;
  std::filesystem::remove(file, ec);
  if (ec) throw StoreError("cannot remove " + file.string() + ": " + ec.message());
  // An emptied generation folder goes too.
  std::filesystem::remove(file.parent_path(), ec);
}

}  // namespace quelvar::replica
