#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Workspace.hpp"
#include "support/TemporaryFolder.hpp"

namespace earshot::testing {

void writeFile(const std::string& path, const std::string& bytes);  // makes the parent folders

enum class PlistForm { xml, binary };

// A property-list value for fixtures: a text, a boolean, an integer or a dictionary of those.
struct PlistValue {
  enum class Kind { text, boolean, integer, dictionary } kind = Kind::text;
  std::string text;
  bool boolean = false;
  long integer = 0;
  std::map<std::string, PlistValue> dictionary;

  PlistValue(const char* value) : text(value) {}
  PlistValue(std::string value) : text(std::move(value)) {}
  static PlistValue of(bool value);
  static PlistValue number(long value);
  static PlistValue of(std::map<std::string, PlistValue> value);
};
using PlistDictionary = std::map<std::string, PlistValue>;

// The bytes of a property list holding `dictionary`, built with libplist.
std::string plistBytes(const PlistDictionary& dictionary, PlistForm form);

// UTF-16 with a byte-order mark.
std::string utf16(const std::string& utf8, bool bigEndian = false);

// Writes a bundle `<folder>/<name>` with Contents/Info.plist (when `info` is given) and returns its
// path.
std::string makeBundle(const std::string& folder, const std::string& name,
                       const std::optional<PlistDictionary>& info, PlistForm form = PlistForm::xml);

// Writes a desktop file from its [Desktop Entry] lines.
void makeDesktopFile(const std::string& path, const std::vector<std::string>& lines);

// A workspace over fixture folders: the absolute roots are looked up below `sysroot`, and the
// desktop entries and running applications are given by the test. Launching records the path and
// answers with `launchError` (or success), or never when `answerLaunch` is false.
class FixtureWorkspace : public Workspace {
 public:
  explicit FixtureWorkspace(std::string sysroot, std::string home)
      : sysroot_(std::move(sysroot)), home_(std::move(home)) {}

  std::string homeFolder() const override { return home_; }
  std::optional<std::vector<std::string>> contentsOfDirectory(
      const std::string& folder) const override;
  std::string displayName(const std::string& path) const override;
  std::string resolvingSymlinks(const std::string& path) const override;
  std::optional<std::string> readFile(const std::string& path, std::size_t limit) const override;
  std::vector<DesktopEntry> desktopEntries() override { return desktop; }
  std::optional<DesktopEntry> desktopEntry(const std::string& path, const std::string& id) override;
  std::vector<RunningApplication> runningApplications() override { return running; }
  void open(const std::string& path, std::function<void(std::exception_ptr)> done) override;

  std::vector<DesktopEntry> desktop;
  std::vector<RunningApplication> running;
  std::vector<std::string> opened;
  std::exception_ptr launchError;
  std::exception_ptr launchThrows;  // thrown by `open` itself, before any answer
  bool answerLaunch = true;

 private:
  std::string sysroot_;
  std::string home_;
};

}  // namespace earshot::testing
