#include "support/FakePlatform.hpp"

namespace earshot::testing {

FakePlatform::FakePlatform()
    : workspace(root.path() + "/sys", root.path() + "/home"), platform{loop,  hotKeys, workspace,
                                                                       audio, speech,  capture} {}

}  // namespace earshot::testing
