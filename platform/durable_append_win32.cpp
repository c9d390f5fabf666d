#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/durable_append.h"

namespace kelta {

std::string AppendDurably(const std::string& path, const std::string& bytes) {
  const int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  std::string error;
  while (done < bytes.size()) {
    const int n = _write(fd, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
    if (n <= 0) {
      error = std::strerror(errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // _commit flushes the file's buffers to the disk (FlushFileBuffers).
  if (error.empty() && _commit(fd) != 0) error = std::strerror(errno);
  if (_close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

}  // namespace kelta
