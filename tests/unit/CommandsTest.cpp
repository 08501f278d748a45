#include <gtest/gtest.h>

#include "cli/Commands.hpp"

using namespace earshot;

TEST(Commands, DictationTrimsTabsAndSpaceSeparatorsOnly) {
  struct Row {
    const char* line;
    std::optional<DictationCommand> expected;
  };
  for (const Row& row : {
           Row{"stop", DictationCommand::stop},
           Row{"  stop\t", DictationCommand::stop},
           Row{"\xc2\xa0"
               "cancel\xe3\x80\x80",
               DictationCommand::cancel},  // no-break, ideographic
           Row{"Stop", std::nullopt},
           Row{"stop now", std::nullopt},
           Row{"stop\r", std::nullopt},  // a line break is no space separator
           Row{"", std::nullopt},
           Row{"\xff"
               "stop",
               std::nullopt},
       })
    EXPECT_EQ(dictationCommand(row.line), row.expected) << row.line;
}

TEST(Commands, ListeningWordsSplitAtSpacesOnly) {
  using Words = std::vector<std::string>;
  EXPECT_EQ(commandWords("  key   control-option-space  "), (Words{"key", "control-option-space"}));
  EXPECT_EQ(commandWords("key\tcontrol-option-space"), (Words{"key\tcontrol-option-space"}));
  EXPECT_EQ(commandWords(""), Words{});
  EXPECT_EQ(commandWords("quit now"), (Words{"quit", "now"}));
}
