#include "platform/settings_regfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/config_dir.h"

namespace kelta {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  const int error = errno;
  throw SettingsStoreError(what + ": " + std::strerror(error));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p, private folders as the XDG layout wants them.
void MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      Fail("cannot create the folder " + prefix);
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) Fail("cannot create the folder " + folder);
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    Fail("cannot create the folder " + folder);
  }
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

enum class FileState { Missing, Refused, Unparsable, Parsed };

struct FileRead {
  FileState state = FileState::Missing;
  std::optional<RegFile> file;
  // Why the file cannot be read (Refused), or why a save may not replace it; empty when
  // it may.
  std::string problem;
};

// Why a save may not replace the file `path`, which `info` describes; empty if it may.
std::string ReadOnlyProblem(const std::string& path, const struct stat& info) {
  // A file with no write permission for anybody is read-only even to root, who could
  // write it anyway: the owner made it read-only on purpose.
  if ((info.st_mode & 0222) == 0) return path + " is read-only";
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    return "cannot write " + path + ": " + std::strerror(errno);
  }
  return {};
}

FileRead ReadRegFile(const std::string& path) {
  // Opened for reading only: a file that may not be written still loads. O_NONBLOCK
  // keeps a FIFO put there from hanging the open.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT) return {};
    return {FileState::Refused, std::nullopt, "cannot read " + path + ": " + std::strerror(errno)};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return {FileState::Refused, std::nullopt, path + " is not a file"};
  }
  std::string problem = ReadOnlyProblem(path, info);
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxRegFileSize) {
    return {FileState::Unparsable, std::nullopt, std::move(problem)};
  }
  std::string text;
  char buffer[16384];
  while (text.size() <= kMaxRegFileSize) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      return {FileState::Refused, std::nullopt,
              "cannot read " + path + ": " + std::strerror(errno)};
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::optional<RegFile> file = RegFile::Parse(text);
  if (!file) {
    return {FileState::Unparsable, std::nullopt, std::move(problem)};
  }
  return {FileState::Parsed, std::move(file), std::move(problem)};
}

class RegFileStore final : public SettingsStore {
 public:
  RegFileStore(std::string path, RegFileTestHooks hooks)
      : path_(std::move(path)), hooks_(std::move(hooks)) {}

  bool OpenKey(bool create) override {
    if (open_) {
      CloseKey();
    }
    key_created_ = false;
    writes_.clear();
    FileRead read = ReadRegFile(path_);
    if (create && !read.problem.empty()) {
      // A save that cannot be made says why at once.
      throw SettingsStoreError(read.problem);
    }
    if (read.state == FileState::Refused) {
      return false;
    }
    if (read.state == FileState::Parsed && read.file->HasKey(kSettingsKeyName)) {
      file_ = std::move(*read.file);
    } else {
      // Missing, unparsable or without the key: the key is missing. Only a save creates
      // it, and an unparsable file is left alone until then.
      if (!create) {
        return false;
      }
      if (read.state == FileState::Missing) {
        MakeFolders(FolderOf(path_));
      }
      file_ = read.file ? std::move(*read.file) : RegFile();
      file_.CreateKey(kSettingsKeyName);
      key_created_ = true;
    }
    open_ = true;
    return true;
  }

  bool ValueExists(const std::string& name) override {
    RequireOpen();
    return file_.Find(kSettingsKeyName, name, nullptr) != RegFile::Lookup::Missing;
  }

  std::int32_t ReadInteger(const std::string& name) override {
    const RegValue value = Read(name);
    if (value.type != kRegDword || value.data.size() != 4) {
      throw SettingsStoreError("\"" + name + "\" is not a 4-byte REG_DWORD");
    }
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      number |= static_cast<std::uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    }
    return static_cast<std::int32_t>(number);
  }

  std::string ReadString(const std::string& name) override {
    const RegValue value = Read(name);
    if (value.type != kRegSz && value.type != kRegExpandSz) {
      throw SettingsStoreError("\"" + name + "\" is not a text");
    }
    return value.data.substr(0, value.data.find('\0'));
  }

  void WriteInteger(const std::string& name, std::int32_t value) override {
    Write(name, RegDword(static_cast<std::uint32_t>(value)));
  }

  void WriteString(const std::string& name, const std::string& value) override {
    Write(name, RegValue{kRegSz, value + '\0'});
  }

  void CloseKey() override {
    if (!open_) {
      return;
    }
    open_ = false;
    if (writes_.empty() && !key_created_) {
      return;
    }
    std::vector<std::pair<std::string, RegValue>> writes = std::move(writes_);
    writes_.clear();
    Commit(writes);
  }

 private:
  void RequireOpen() const {
    if (!open_) {
      throw SettingsStoreError("the key is not open");
    }
  }

  RegValue Read(const std::string& name) {
    RequireOpen();
    RegValue value;
    switch (file_.Find(kSettingsKeyName, name, &value)) {
      case RegFile::Lookup::Missing:
        throw SettingsStoreError("\"" + name + "\" does not exist");
      case RegFile::Lookup::Unreadable:
        throw SettingsStoreError("\"" + name + "\" cannot be read");
      case RegFile::Lookup::Found:
        break;
    }
    return value;
  }

  void Write(const std::string& name, RegValue value) {
    RequireOpen();
    file_.Set(kSettingsKeyName, name, value);
    writes_.emplace_back(name, std::move(value));
  }

  // One call that touches the disk; the tests' hook sees it first and may fail it.
  template <typename Call>
  auto Step(const char* name, Call call) -> decltype(call()) {
    if (hooks_.step) {
      if (const int error = hooks_.step(name); error != 0) {
        errno = error;
        return -1;
      }
    }
    return call();
  }

  // Two copies of the program saving at once would each read the file, change it and
  // rename their own over it, and the values of the first would be lost. A save holds an
  // advisory lock on a file beside the settings from the read to the rename; one that
  // cannot get it within the wait gives up.
  Fd Lock() {
    const std::string name = path_ + ".lock";
    Fd fd(Step("lock", [&] {
      return ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    }));
    if (fd.get() < 0) {
      Fail("cannot create the lock file " + name);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(hooks_.lock_wait_ms);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) Fail("cannot lock " + name);
      if (std::chrono::steady_clock::now() >= deadline) {
        throw SettingsStoreError(name + " is still locked by another program saving the settings");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fd;
  }

  // The writes go onto the file as it is now, not as it was at OpenKey, so that what
  // another copy of the program stored meanwhile is kept.
  void Commit(const std::vector<std::pair<std::string, RegValue>>& writes) {
    MakeFolders(FolderOf(path_));
    const Fd lock = Lock();
    FileRead read = ReadRegFile(path_);
    if (!read.problem.empty()) {
      throw SettingsStoreError(read.problem);
    }
    RegFile file = read.file ? std::move(*read.file) : RegFile();
    if (!file.HasKey(kSettingsKeyName)) {
      file.CreateKey(kSettingsKeyName);
    }
    for (const auto& [name, value] : writes) {
      file.Set(kSettingsKeyName, name, value);
    }
    Replace(file.Format(), read.state == FileState::Unparsable);
  }

  // A settings.reg that is a symbolic link (dotfiles kept elsewhere) stays one: the file
  // it points to is the one replaced, or created where it does not exist yet.
  std::string ResolvedPath() const {
    std::string path = path_;
    for (int hops = 0;; ++hops) {
      struct stat link {};
      if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
      char target[PATH_MAX];
      const ssize_t size = hops < 40 ? ::readlink(path.c_str(), target, sizeof target) : -1;
      if (hops >= 40) errno = ELOOP;
      if (size < 0 || static_cast<std::size_t>(size) >= sizeof target) {
        Fail("cannot follow the link " + path);
      }
      const std::string next(target, static_cast<std::size_t>(size));
      path = next.front() == '/' ? next : FolderOf(path) + "/" + next;
    }
  }

  // Writes a new file beside the old one and renames it over it: a crash or a full disk
  // at any point leaves either the old file or the new one, both whole.
  void Replace(const std::string& text, bool keep_old) {
    const std::string target = ResolvedPath();
    std::string temp = FolderOf(target) + "/.settings.reg.XXXXXX";
    Fd fd(Step("create", [&] { return ::mkstemp(temp.data()); }));
    if (fd.get() < 0) {
      Fail("cannot create a file beside " + target);
    }
    struct TempGuard {
      const std::string& name;
      bool armed = true;
      ~TempGuard() {
        if (armed) ::unlink(name.c_str());
      }
    } guard{temp};
    struct stat old {};
    ::fchmod(fd.get(), ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    std::size_t written = 0;
    while (written < text.size()) {
      std::size_t chunk = text.size() - written;
      if (hooks_.disk_space <= written) {
        errno = ENOSPC;
        Fail("cannot write " + temp);
      }
      chunk = std::min(chunk, hooks_.disk_space - written);
      const ssize_t done =
          Step("write", [&] { return ::write(fd.get(), text.data() + written, chunk); });
      if (done < 0 && errno == EINTR) continue;
      if (done < 0) Fail("cannot write " + temp);
      written += static_cast<std::size_t>(done);
    }
    // On disk before the rename: otherwise a power cut can leave an empty file in place
    // of the old one.
    if (Step("sync", [&] { return ::fsync(fd.get()); }) != 0) {
      Fail("cannot sync " + temp);
    }
    if (Step("close", [&] { return ::close(fd.release()); }) != 0) {
      Fail("cannot close " + temp);
    }
    if (keep_old) {
      // The file it replaces could not be read; keep it for whoever wants it back.
      // Moving it first loses nothing: without it the settings are the defaults anyway.
      static_cast<void>(::rename(target.c_str(), (target + ".bad").c_str()));
    }
    if (hooks_.before_rename) {
      hooks_.before_rename();
    }
    if (Step("rename", [&] { return ::rename(temp.c_str(), target.c_str()); }) != 0) {
      Fail("cannot replace " + target);
    }
    guard.armed = false;
    Fd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
      static_cast<void>(Step("sync folder", [&] { return ::fsync(folder.get()); }));
    }
  }

  std::string path_;
  RegFileTestHooks hooks_;
  bool open_ = false;
  bool key_created_ = false;
  RegFile file_;
  std::vector<std::pair<std::string, RegValue>> writes_;
};

}  // namespace

std::unique_ptr<SettingsStore> MakeRegFileStore(std::string path, RegFileTestHooks hooks) {
  return std::make_unique<RegFileStore>(std::move(path), std::move(hooks));
}

std::unique_ptr<SettingsStore> MakeSystemSettingsStore() {
  return MakeRegFileStore(ConfigDir() + "/settings.reg");
}

}  // namespace kelta
