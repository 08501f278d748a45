#include "support/TemporaryFolder.hpp"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace earshot::testing {

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "earshot-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = fs::canonical(pattern).string();
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace earshot::testing
