#include "platform/linux/Files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace earshot::linux_platform {

std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit) {
  // Opening a FIFO for reading blocks until a writer comes, unless it is opened non-blocking; the
  // type is then checked on what was opened, so a file swapped in meanwhile cannot slip through.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> out;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<unsigned long long>(status.st_size) <= limit) {
    std::string bytes;
    char buffer[16384];
    bool ok = true;
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      // A file that grows while it is read.
      if (bytes.size() > limit) {
        ok = false;
        break;
      }
    }
    if (ok) out = std::move(bytes);
  }
  ::close(fd);
  return out;
}

}  // namespace earshot::linux_platform
