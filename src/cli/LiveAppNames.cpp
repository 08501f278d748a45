#include "cli/LiveAppNames.hpp"

#include "async/Co.hpp"
#include "catalog/AppNames.hpp"

namespace earshot {

std::function<std::shared_ptr<const AppVocabulary>()> liveAppNames(Platform& platform) {
  auto cache = std::make_shared<AppNamesCache>(platform.workspace);
  // The first take then rarely waits for a scan.
  onBackground([cache] { cache->current(); }, platform.loop);
  return [cache] { return cache->current(); };
}

}  // namespace earshot
