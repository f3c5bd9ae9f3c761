#include "power_cut_vfs.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quelvar::testing {

namespace {

sqlite3_vfs* Real() {
  static sqlite3_vfs* real = sqlite3_vfs_find("unix");
  return real;
}

// A file of the layer: our part first, the real file's after it.
struct ShimFile {
  sqlite3_file base;
  std::string* path;  // set for recorded files only
  sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

PowerCutVfs* layer = nullptr;

ShimFile* Shim(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file); }

int Close(sqlite3_file* file) {
  ShimFile* f = Shim(file);
  const int rc = f->Real()->pMethods ? f->Real()->pMethods->xClose(f->Real()) : SQLITE_OK;
  delete f->path;
  f->path = nullptr;
  return rc;
}
int Read(sqlite3_file* file, void* out, int amount, sqlite3_int64 offset) {
  return Shim(file)->Real()->pMethods->xRead(Shim(file)->Real(), out, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  ShimFile* f = Shim(file);
  const int rc = f->Real()->pMethods->xWrite(f->Real(), data, amount, offset);
  if (rc == SQLITE_OK && f->path) layer->Write(*f->path, data, amount, offset);
  return rc;
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  ShimFile* f = Shim(file);
  const int rc = f->Real()->pMethods->xTruncate(f->Real(), size);
  if (rc == SQLITE_OK && f->path) layer->Truncate(*f->path, size);
  return rc;
}
int Sync(sqlite3_file* file, int flags) {
  ShimFile* f = Shim(file);
  const int rc = f->Real()->pMethods->xSync(f->Real(), flags);
  if (rc == SQLITE_OK && f->path) layer->Sync(*f->path);
  return rc;
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  return Shim(file)->Real()->pMethods->xFileSize(Shim(file)->Real(), size);
}
int Lock(sqlite3_file* file, int level) { return Shim(file)->Real()->pMethods->xLock(Shim(file)->Real(), level); }
int Unlock(sqlite3_file* file, int level) {
  return Shim(file)->Real()->pMethods->xUnlock(Shim(file)->Real(), level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
  return Shim(file)->Real()->pMethods->xCheckReservedLock(Shim(file)->Real(), out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
  return Shim(file)->Real()->pMethods->xFileControl(Shim(file)->Real(), op, arg);
}
int SectorSize(sqlite3_file* file) { return Shim(file)->Real()->pMethods->xSectorSize(Shim(file)->Real()); }
int DeviceCharacteristics(sqlite3_file* file) {
  return Shim(file)->Real()->pMethods->xDeviceCharacteristics(Shim(file)->Real());
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  return Shim(file)->Real()->pMethods->xShmMap(Shim(file)->Real(), region, size, extend, out);
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  return Shim(file)->Real()->pMethods->xShmLock(Shim(file)->Real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* file) { Shim(file)->Real()->pMethods->xShmBarrier(Shim(file)->Real()); }
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  return Shim(file)->Real()->pMethods->xShmUnmap(Shim(file)->Real(), deleteFlag);
}
// No memory-mapped reads: every page goes through Read, every change through Write.
int Fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,         Close,   Read,     Write,     Truncate,    Sync,       FileSize,
    Lock,      Unlock,  CheckReservedLock, FileControl, SectorSize, DeviceCharacteristics,
    ShmMap,    ShmLock, ShmBarrier, ShmUnmap, Fetch,    Unfetch,
};

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
  ShimFile* f = Shim(file);
  f->base.pMethods = nullptr;
  f->path = nullptr;
  const int rc = Real()->xOpen(Real(), name, f->Real(), flags, outFlags);
  if (rc != SQLITE_OK) return rc;
  f->base.pMethods = &kMethods;
  constexpr int kRecorded = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL;
  if (name && (flags & kRecorded)) {
    f->path = new std::string(name);
    if (!layer->Tracks(*f->path)) layer->Opened(*f->path, ReadWhole(name));
  }
  return SQLITE_OK;
}
int DeleteFile(sqlite3_vfs*, const char* name, int syncDir) {
  const int rc = Real()->xDelete(Real(), name, syncDir);
  if (rc == SQLITE_OK || rc == SQLITE_IOERR_DELETE_NOENT) layer->Delete(name);
  return rc;
}
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return Real()->xAccess(Real(), name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return Real()->xFullPathname(Real(), name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return Real()->xDlOpen(Real(), name); }
void DlError(sqlite3_vfs*, int size, char* out) { Real()->xDlError(Real(), size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return Real()->xDlSym(Real(), handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { Real()->xDlClose(Real(), handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return Real()->xRandomness(Real(), size, out); }
int Sleep(sqlite3_vfs*, int micros) { return Real()->xSleep(Real(), micros); }
int CurrentTime(sqlite3_vfs*, double* out) { return Real()->xCurrentTime(Real(), out); }
int GetLastError(sqlite3_vfs*, int size, char* out) { return Real()->xGetLastError(Real(), size, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return Real()->xCurrentTimeInt64(Real(), out); }

// Applies one pending change to `content`.
void Apply(std::string& content, const PowerCutVfs::Pending& change) {
  if (change.offset < 0) {
    content.resize(static_cast<std::size_t>(change.size));
    return;
  }
  const std::size_t end = static_cast<std::size_t>(change.offset) + change.data.size();
  if (content.size() < end) content.resize(end);
  std::memcpy(content.data() + change.offset, change.data.data(), change.data.size());
}

}  // namespace

PowerCutVfs& PowerCutVfs::Install() {
  static PowerCutVfs* instance = [] {
    layer = new PowerCutVfs();
    static sqlite3_vfs vfs{};
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + Real()->szOsFile;
    vfs.mxPathname = Real()->mxPathname;
    vfs.zName = "quelvar-power-cut";
    vfs.xOpen = Open;
    vfs.xDelete = DeleteFile;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xDlOpen = DlOpen;
    vfs.xDlError = DlError;
    vfs.xDlSym = DlSym;
    vfs.xDlClose = DlClose;
    vfs.xRandomness = Randomness;
    vfs.xSleep = Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = GetLastError;
    vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&vfs, 1);
    return layer;
  }();
  return *instance;
}

void PowerCutVfs::Reset() {
  files_.clear();
  operations_ = 0;
  syncs_ = 0;
  onOperation = nullptr;
  onSync = nullptr;
}

void PowerCutVfs::MarkAllDurable() {
  for (auto& [path, record] : files_) {
    record.durable = record.current;
    record.pending.clear();
  }
  operations_ = 0;
  syncs_ = 0;
}

void PowerCutVfs::Counted() {
  ++operations_;
  if (onOperation) onOperation();
}

void PowerCutVfs::Opened(const std::string& path, const std::string& existingContent) {
  Record& record = files_[path];
  record.current = existingContent;
  record.durable = existingContent;
}

void PowerCutVfs::Write(const std::string& path, const void* data, int amount, std::int64_t offset) {
  Record& record = files_[path];
  Pending change{offset, amount, std::string(static_cast<const char*>(data), static_cast<std::size_t>(amount))};
  Apply(record.current, change);
  record.pending.push_back(std::move(change));
  Counted();
}

void PowerCutVfs::Truncate(const std::string& path, std::int64_t size) {
  Record& record = files_[path];
  Pending change{-1, size, {}};
  Apply(record.current, change);
  record.pending.push_back(std::move(change));
  Counted();
}

void PowerCutVfs::Sync(const std::string& path) {
  Record& record = files_[path];
  record.durable = record.current;
  record.pending.clear();
  ++syncs_;
  if (onSync) onSync();
  Counted();
}

void PowerCutVfs::Delete(const std::string& path) {
  if (files_.erase(path) != 0) Counted();
}

PowerCutVfs::Image PowerCutVfs::Cut(CutMode mode, std::mt19937& random) const {
  Image image;
  for (const auto& [path, record] : files_) {
    std::string content = record.durable;
    if (mode == CutMode::kRandomSubset && !record.pending.empty()) {
      std::vector<const Pending*> kept;
      for (const Pending& change : record.pending)
        if (random() % 2 == 0) kept.push_back(&change);
      std::shuffle(kept.begin(), kept.end(), random);
      for (const Pending* change : kept) Apply(content, *change);
    }
    image.emplace(path, std::move(content));
  }
  return image;
}

}  // namespace quelvar::testing
