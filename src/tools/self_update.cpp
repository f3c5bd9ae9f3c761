#include "tools/self_update.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "data/tdm.h"
#include "service/protected_files.h"
#include "tools/update_info.h"
#include "tools/sha256_hex.h"
#include "tools/update_signature.h"

namespace quelvar::tools {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStagingFolder = "Atualizacao.tmp";

std::string UpdateUrl() {
  const char* url = std::getenv("QUELVAR_UPDATE_URL");
  return url && *url ? std::string(url) : std::string(kDefaultUpdateUrl);
}

struct Download {
  std::string body;
  std::uint64_t limit = 0;
  bool tooLarge = false;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* download = static_cast<Download*>(user);
  const std::size_t bytes = size * count;
  if (download->body.size() + bytes > download->limit) {
    download->tooLarge = true;
    return 0;  // aborts the transfer
  }
  download->body.append(data, bytes);
  return bytes;
}

enum class Fetch { kOk, kUnreachable, kRejected };

// GETs `url` into `body`, refusing more than `limit` bytes.
Fetch Get(const std::string& url, std::uint64_t limit, std::string& body) {
  CURL* curl = curl_easy_init();
  if (!curl) return Fetch::kUnreachable;
  Download download{.body = {}, .limit = limit, .tooLarge = false};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // Only web addresses, and a server's certificate must verify.
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (download.tooLarge) return Fetch::kRejected;
  if (result != CURLE_OK || status != 200) return Fetch::kUnreachable;
  body = std::move(download.body);
  return Fetch::kOk;
}

// Writes `bytes` to a new file and flushes it to the disk.
bool WriteFile(const fs::path& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  const bool ok = written == bytes.size() && fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

// Flushes a folder's entries (the renames into it) to the disk.
void FlushFolder(const fs::path& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

std::vector<std::string> CommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> args;
  std::size_t start = 0;
  while (start < all.size()) {
    const std::size_t end = all.find('\0', start);
    args.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return args;
}

// The permissions an installed file takes: those of the file it replaces,
// or the executable's for a new one, never more than rwxr-xr-x (no set-uid,
// set-gid or sticky bit, nothing writable by others); rw-r--r-- when the
// model's cannot be read.
fs::perms InstalledPermissions(const fs::path& model) {
  constexpr fs::perms kMost = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
  std::error_code ec;
  const fs::file_status status = fs::status(model, ec);
  if (ec || !fs::exists(status) || status.permissions() == fs::perms::unknown)
    return fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read;
  return status.permissions() & kMost;
}

// Replaces the running program with `executable`, same arguments, and
// returns the system's error when that fails. Every descriptor but the
// standard three is closed by the exec, so the new image can take the
// listener's port and the single-instance lock again.
int Restart(const fs::path& executable) {
  std::vector<std::string> args = CommandLine();
  if (args.empty()) args.push_back(executable.string());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::cout.flush();
  std::cerr.flush();
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  execv(executable.c_str(), argv.data());
  return errno;
}

}  // namespace

std::string SelfUpdater::Status() const {
  std::lock_guard lock(statusLock_);
  return status_;
}

void SelfUpdater::SetStatus(std::string_view status) {
  std::lock_guard lock(statusLock_);
  status_ = std::string(status);
}

void SelfUpdater::Report(OperatorConsole& console, std::string_view status) {
  SetStatus(status);
  console.log("AtualizaServidor MSG: \r" + std::string(status));
}

void SelfUpdater::StartCheck(OperatorConsole& console, fs::path programFolder, std::vector<fs::path> guarded) {
  if (busy_.exchange(true)) return;
  std::thread([self = shared_from_this(), &console, folder = std::move(programFolder), guarded = std::move(guarded)] {
    self->Check(console, folder, guarded);
    self->busy_ = false;
  }).detach();
}

void SelfUpdater::Check(OperatorConsole& console, const fs::path& programFolder,
                        const std::vector<fs::path>& guarded) {
  const UpdateKey key = LoadUpdateKey(programFolder);
  if (!key) return Report(console, kStatusNotConfigured);
  const std::string url = UpdateUrl();
  std::string text;
  switch (Get(url, 64 * 1024, text)) {
    case Fetch::kUnreachable: return Report(console, kStatusHostUnreachable);
    case Fetch::kRejected: return Report(console, kStatusRejected);
    case Fetch::kOk: break;
  }
  const std::optional<std::string_view> verified = VerifiedUpdateText(text, key.get());
  if (!verified) return Report(console, kStatusUnsigned);
  const std::optional<UpdateInfo> info = ParseUpdateInfo(*verified);
  if (!info) return Report(console, kStatusRejected);
  if (info->version <= kProgramVersion) return Report(console, kStatusNoUpdate);
  // The program's files live beside the running executable, whatever folder
  // holds the shop's data.
  std::error_code ec;
  const fs::path executable = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return Report(console, kStatusRejected);
  const fs::path installFolder = executable.parent_path();
  for (const UpdateFile& file : info->files) {
    if (file.name == kStagingFolder || service::IsProtectedFile(installFolder / file.name, guarded))
      return Report(console, kStatusRejected);
  }

  const fs::path staging = installFolder / kStagingFolder;
  fs::remove_all(staging, ec);
  if (!fs::create_directory(staging, ec)) return Report(console, kStatusRejected);

  for (const UpdateFile& file : info->files) {
    std::string bytes;
    switch (Get(SiblingUrl(url, file.name), file.size, bytes)) {
      case Fetch::kUnreachable: fs::remove_all(staging, ec); return Report(console, kStatusHostUnreachable);
      case Fetch::kRejected: fs::remove_all(staging, ec); return Report(console, kStatusRejected);
      case Fetch::kOk: break;
    }
    if (bytes.size() != file.size || Sha256Hex(bytes) != file.sha256 || !WriteFile(staging / file.name, bytes)) {
      fs::remove_all(staging, ec);
      return Report(console, kStatusRejected);
    }
    Report(console, kStatusFileDone);
  }

  // Every file verified: put each in place by rename, with the permissions
  // of the file it replaces (a new file gets the executable's), bounded.
  for (const UpdateFile& file : info->files) {
    const fs::path target = installFolder / file.name;
    const fs::path model = fs::exists(target, ec) ? target : executable;
    fs::permissions(staging / file.name, InstalledPermissions(model), ec);
    if (!ec) fs::rename(staging / file.name, target, ec);
    if (ec) {
      Report(console, kStatusRejected);
      fs::remove_all(staging, ec);
      return;
    }
  }
  fs::remove_all(staging, ec);
  FlushFolder(installFolder);
  const int failure = Restart(executable);
  Report(console, std::string(kStatusRestartFailed) + std::generic_category().message(failure));
}

void AtualizaServidor(SelfUpdater& updater, TDM& dm, TDWParams& params) {
  try {
    updater.SetStatus("OK");
    std::vector<fs::path> guarded = service::DatabaseFiles(dm.DatabaseFile());
    guarded.push_back(dm.ProgramFolder() / std::string(service::kSettingsFileName));
    updater.StartCheck(dm.Console(), dm.ProgramFolder(), std::move(guarded));
    params.Item("Resposta").SetAsString(updater.Status());
  } catch (const std::exception& e) {
    dm.Log(std::string("AtualizaServidor --> \r") + e.what());
    if (TJSONParam* resposta = params.GetRecName("Resposta"))
      resposta->SetAsString(std::string("Ocorreu um erro na atualização do servidor. \r") + e.what());
  }
}

}  // namespace quelvar::tools
