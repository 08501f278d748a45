#pragma once

// The catalog as a vocabulary for the recognizer: what a user may say to name an application.

#include <chrono>
#include <memory>
#include <mutex>

#include "catalog/AppCatalog.hpp"
#include "platform/Speech.hpp"
#include "platform/Workspace.hpp"

namespace earshot {

// Words that may open an application command ("open firefox", "abre o spotify").
const std::vector<std::string>& commandWords();

// Every spoken name of every entry, then the nickname keys, each once, in that order; with the
// command and filler words.
AppVocabulary appVocabulary(const AppCatalog& catalog);
// The same from a fresh scan.
AppVocabulary appNames(Workspace& workspace);

// The vocabulary of the long-running modes: scanned again when a take starts and the last scan is
// older than `maxAge`, so that an application installed meanwhile can be said at the next take.
// A scan takes tens of milliseconds: ask off the main thread (`onBackground`) while capture already
// feeds the take's input stream, then start the analyzer with the answer. Any thread may ask; one
// scan runs at a time.
class AppNamesCache {
 public:
  using Clock = std::chrono::steady_clock;

  explicit AppNamesCache(Workspace& workspace, Clock::duration maxAge = std::chrono::seconds(5))
      : workspace_(workspace), maxAge_(maxAge) {}

  std::shared_ptr<const AppVocabulary> current(Clock::time_point now = Clock::now());

 private:
  Workspace& workspace_;
  Clock::duration maxAge_;
  std::mutex lock_;
  std::shared_ptr<const AppVocabulary> last_;
  Clock::time_point scanned_{};
};

}  // namespace earshot
