#include "app/program_help.h"

#include <gtest/gtest.h>
#include <sharelink/version.h>

namespace sharelink::app {
namespace {

TEST(ProgramHelp, AnswersHelpAndVersionAndLeavesTheRestToTheWindow) {
  EXPECT_EQ(program_help({"--version"}), std::string("sharelink-gui ") + SHARELINK_VERSION + "\n");
  for (const char* help : {"--help", "-h"}) {
    const auto text = program_help({"-platform", "offscreen", help});
    ASSERT_TRUE(text) << help;
    EXPECT_EQ(text->rfind("Usage: sharelink-gui", 0), 0u);
  }
  EXPECT_FALSE(program_help({}));
  EXPECT_FALSE(program_help({"-platform", "xcb", "--helpful"}));
}

}  // namespace
}  // namespace sharelink::app
