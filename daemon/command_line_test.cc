#include "daemon/command_line.h"

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
        std::string out, err;
        EXPECT_EQ(answerCommandLine(c.args, out, err), c.exit);
        EXPECT_EQ(out.rfind(c.outStarts, 0), 0u) << out;
        EXPECT_EQ(err.rfind(c.errStarts, 0), 0u) << err;
        EXPECT_TRUE(out.empty() || err.empty());
        if (!c.exit) {
            EXPECT_EQ(out + err, "");
        }
    }
}

}  // namespace
}  // namespace hv
