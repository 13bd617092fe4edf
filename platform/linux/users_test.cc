#include "platform/linux/users.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/test_dir.h"

namespace hv {
namespace {

// In a child with a private mount namespace whose /etc/passwd is a file of the test's, each step
// writes that file (in place, as a bind-mounted copy is written) or leaves it, then asks the cache;
// the answers come back joined by spaces. nullopt when namespaces are not available here.
struct Step {
    const char* passwd;  // the new content, or nullptr to leave the file as it is
    const char* name;
};

std::optional<std::string> answersInNamespace(const std::vector<Step>& steps) {
    TestDir dir;
    const std::string file = dir.file("passwd");
    std::ofstream(file) << "root:x:0:0::/root:/bin/sh\n";
    int out[2];
    if (pipe(out) != 0) return std::nullopt;
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(file.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) {
            _exit(77);
        }
        UidCache cache;
        std::string text;
        for (const Step& step : steps) {
            if (step.passwd) std::ofstream("/etc/passwd", std::ios::trunc) << step.passwd;
            if (!text.empty()) text += " ";
            text += std::to_string(cache.uidByName(step.name));
        }
        _exit(write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
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
