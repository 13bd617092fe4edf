#include "daemon/command_line.h"

#include <sstream>

#include <gtest/gtest.h>

namespace hv {
namespace {

TEST(CommandLineTest, OnlyNoArgumentsStartsTheDaemon) {
    struct Case {
        std::vector<std::string> args;
        std::optional<int> exit;
        const char* outStarts;
        const char* errStarts;
    };
    const Case cases[] = {
        {{}, std::nullopt, "", ""},
        {{"--help"}, 0, "usage: horaveld [--help | --version]\nThe Horavel", ""},
        {{"--version"}, 0, "horaveld " HORAVEL_VERSION "\n", ""},
        {{"-h"}, 2, "", "usage: horaveld [--help | --version]\n"},
        {{"--help", "--version"}, 2, "", "usage: horaveld"},
        {{"start"}, 2, "", "usage: horaveld"},
        {{""}, 2, "", "usage: horaveld"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        std::ostringstream out, err;
        EXPECT_EQ(answerCommandLine(c.args, out, err), c.exit);
        EXPECT_EQ(out.str().rfind(c.outStarts, 0), 0u) << out.str();
        EXPECT_EQ(err.str().rfind(c.errStarts, 0), 0u) << err.str();
        EXPECT_TRUE(out.str().empty() || err.str().empty());
        if (!c.exit) {
            EXPECT_EQ(out.str() + err.str(), "");
        }
    }
}

}  // namespace
}  // namespace hv
