#include "platform/linux/users.h"

#include <sys/mount.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"
#include "platform/linux/test_mount_namespace.h"

namespace hv {
namespace {

// In a private mount namespace whose /etc/passwd is a file of the test's, each step writes that
// file (in place, as a bind-mounted copy is written) or leaves it, then asks the cache; the answers
// come back joined by spaces. nullopt when namespaces are not available here.
struct Step {
    const char* passwd;  // the new content, or nullptr to leave the file as it is
    const char* name;
};

std::optional<std::string> answersInNamespace(const std::vector<Step>& steps) {
    TestDir dir;
    const std::string file = dir.file("passwd");
    std::ofstream(file) << "root:x:0:0::/root:/bin/sh\n";
    return outputInMountNamespace([&]() -> std::optional<std::string> {
        if (mount(file.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) return std::nullopt;
        UidCache cache;
        std::string text;
        for (const Step& step : steps) {
            if (step.passwd) std::ofstream("/etc/passwd", std::ios::trunc) << step.passwd;
            if (!text.empty()) text += " ";
            text += std::to_string(cache.uidByName(step.name));
        }
        return text;
    });
}

TEST(UidCache, AnswersAsAWalkOfTheUserDatabaseAsItIsNow) {
    const std::optional<std::string> answers = answersInNamespace({
        {"root:x:0:0::/root:/bin/sh\nhvkid:x:4321:4321::/home/hvkid:/bin/sh\n", "hvkid"},
        {nullptr, "hvkid"},
        {nullptr, "hvnone"},
        // The account's uid changed, another added: the file is written, nothing kept is used.
        {"root:x:0:0::/root:/bin/sh\nhvkid:x:4322:4322::/home/hvkid:/bin/sh\nhvnone:x:77:77::/:/bin/sh\n", "hvkid"},
        {nullptr, "hvnone"},
        // The first entry of a name counts.
        {"hvkid:x:5000:5000::/:/bin/sh\nhvkid:x:4322:4322::/home/hvkid:/bin/sh\n", "hvkid"},
        {nullptr, "hvnone"},
    });
    if (!answers) GTEST_SKIP() << "mount namespaces are not available here";
    EXPECT_EQ(*answers, "4321 4321 -1 4322 77 5000 -1");
}

}  // namespace
}  // namespace hv
