#pragma once

#include <string>

namespace earshot::testing {
class FixtureWorkspace;
}

namespace earshot::bench {

inline constexpr int bundleCount = 2000;
inline constexpr int desktopEntryCount = 500;

// Writes a machine of applications below `root`: `bundleCount` bundles in root/home/Applications
// (XML and binary Info.plists, loctables, UTF-16 and UTF-8 strings files) and `desktopEntryCount`
// desktop entries in root/data/applications. Returns the number of files written.
int makeCatalog(const std::string& root);

// The `desktopEntryCount` desktop entries as plain entries of a fixture workspace (how the Linux
// workspace reads them is measured by the whole-process benchmark).
void addDesktopEntries(earshot::testing::FixtureWorkspace& workspace);

// The shown English name of bundle `index`.
std::string bundleName(int index);

}  // namespace earshot::bench
