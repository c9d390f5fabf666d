#include "platform/settings_regfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/config_dir.h"

namespace kelta {
namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p, private folders as the XDG layout wants them.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
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
};

FileRead ReadRegFile(const std::string& path) {
  // Full access or none, as the key is opened: a file that cannot be written is refused
  // for reading too. O_NONBLOCK keeps a FIFO put there from hanging the open.
  Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    return {errno == ENOENT ? FileState::Missing : FileState::Refused, std::nullopt};
  }
  struct stat info {};
  // A file with no write permission for anybody is read-only even to root, who
  // could otherwise open it anyway: the owner made it read-only on purpose.
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0) {
    return {FileState::Refused, std::nullopt};
  }
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxRegFileSize) {
    return {FileState::Unparsable, std::nullopt};
  }
  std::string text;
  char buffer[16384];
  while (text.size() <= kMaxRegFileSize) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {FileState::Refused, std::nullopt};
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::optional<RegFile> file = RegFile::Parse(text);
  if (!file) {
    return {FileState::Unparsable, std::nullopt};
  }
  return {FileState::Parsed, std::move(file)};
}

[[noreturn]] void Fail(const std::string& what) {
  const int error = errno;
  throw SettingsStoreError(what + ": " + std::strerror(error));
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
      if (read.state == FileState::Missing && !MakeFolders(FolderOf(path_))) {
        return false;
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

  // The writes go onto the file as it is now, not as it was at OpenKey, so that what
  // another copy of the program stored meanwhile is kept.
  void Commit(const std::vector<std::pair<std::string, RegValue>>& writes) {
    FileRead read = ReadRegFile(path_);
    if (read.state == FileState::Refused) {
      errno = EACCES;
      Fail("cannot write " + path_);
    }
    if (read.state == FileState::Missing && !MakeFolders(FolderOf(path_))) {
      Fail("cannot create the folder of " + path_);
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

  // Writes a new file beside the old one and renames it over it: a crash or a full disk
  // at any point leaves either the old file or the new one, both whole.
  // A settings.reg that is a symbolic link (dotfiles kept elsewhere) stays one: the file
  // it points to is the one replaced.
  std::string ResolvedPath() const {
    struct stat link {};
    if (::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      if (char* real = ::realpath(path_.c_str(), nullptr)) {
        std::string resolved(real);
        std::free(real);
        return resolved;
      }
    }
    return path_;
  }

  void Replace(const std::string& text, bool keep_old) {
    const std::string target = ResolvedPath();
    std::string temp = FolderOf(target) + "/.settings.reg.XXXXXX";
    Fd fd(::mkstemp(temp.data()));
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
      const ssize_t done = ::write(fd.get(), text.data() + written, chunk);
      if (done < 0 && errno == EINTR) continue;
      if (done < 0) Fail("cannot write " + temp);
      written += static_cast<std::size_t>(done);
    }
    if (::fsync(fd.get()) != 0) {
      Fail("cannot sync " + temp);
    }
    if (::close(fd.release()) != 0) {
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
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      Fail("cannot replace " + target);
    }
    guard.armed = false;
    Fd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
      static_cast<void>(::fsync(folder.get()));
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
