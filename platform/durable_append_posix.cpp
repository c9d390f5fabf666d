#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/durable_append.h"

namespace kelta {

std::string AppendDurably(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  std::string error;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = std::strerror(errno);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (error.empty() && fsync(fd) != 0) error = std::strerror(errno);
  if (close(fd) != 0 && error.empty()) error = std::strerror(errno);
  return error;
}

}  // namespace kelta
