#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace earshot::linux_platform {

// The bytes of a regular file (symbolic links followed). Nothing when the file is missing,
// unreadable, larger than `limit`, or anything but a regular file: a FIFO, a device or a socket is
// never waited on.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit);

}  // namespace earshot::linux_platform
