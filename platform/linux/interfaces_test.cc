#include "platform/linux/interfaces.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace hv {
namespace {

// Runs `body` on a thread of its own in a fresh network namespace: the namespace belongs to that
// thread alone, and the commands it starts inherit it, so the host's interfaces are never touched.
// Returns false when namespaces are not allowed here.
template <class Body>
bool inPrivateNetwork(Body body) {
    bool unshared = false;
    std::thread worker([&] {
        unshared = ::unshare(CLONE_NEWNET) == 0;
        if (unshared) body();
    });
    worker.join();
    return unshared;
}

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<std::string> describe(const std::vector<InterfaceEntry>& entries) {
    std::vector<std::string> lines;
    for (const InterfaceEntry& e : entries) {
        lines.push_back(e.name + " " + std::to_string(e.family) + " " + e.address +
                        (e.up ? " up" : " down"));
    }
    return lines;
}

TEST(Interfaces, ListsIpv4RecordsInKernelOrderWithTheirFlags) {
    const bool ran = inPrivateNetwork([] {
        // A new namespace has only lo, down and without an address.
        auto list = listInterfaces();
        ASSERT_TRUE(list.has_value());
        EXPECT_TRUE(list->empty()) << ::testing::PrintToString(describe(*list));

        // The peer is registered first, so hva0 comes before hvb0 in the kernel's device list.
        ASSERT_EQ(sh("ip link add hvb0 type veth peer name hva0"), 0);
        ASSERT_LT(::if_nametoindex("hva0"), ::if_nametoindex("hvb0"));
        ASSERT_EQ(sh("ip addr add 10.77.0.1/24 dev hva0"), 0);
        ASSERT_EQ(sh("ip addr add 10.77.0.2/24 dev hvb0"), 0);
        ASSERT_EQ(sh("ip -6 addr add fd00::1/64 dev hvb0"), 0);
        list = listInterfaces();
        ASSERT_TRUE(list.has_value());
        EXPECT_EQ(describe(*list),
                  (std::vector<std::string>{"hva0 2 10.77.0.1 down", "hvb0 2 10.77.0.2 down"}));

        ASSERT_EQ(sh("ip link set hvb0 up"), 0);
        ASSERT_EQ(sh("ip link set lo up"), 0);
        ASSERT_EQ(sh("ip addr add 10.77.1.1/24 dev hva0 label hva0:1"), 0);
        list = listInterfaces();
        ASSERT_TRUE(list.has_value());
        EXPECT_EQ(describe(*list),
                  (std::vector<std::string>{"lo 2 127.0.0.1 up", "hva0 2 10.77.0.1 down",
                                            "hva0:1 2 10.77.1.1 down", "hvb0 2 10.77.0.2 up"}));

        ASSERT_EQ(sh("ip link set hva0 up"), 0);
        ASSERT_EQ(sh("ip link set hvb0 down"), 0);
        list = listInterfaces();
        ASSERT_TRUE(list.has_value());
        EXPECT_EQ(describe(*list),
                  (std::vector<std::string>{"lo 2 127.0.0.1 up", "hva0 2 10.77.0.1 up",
                                            "hva0:1 2 10.77.1.1 up", "hvb0 2 10.77.0.2 down"}));
    });
    if (!ran) GTEST_SKIP() << "network namespaces are not allowed here";
}

TEST(Interfaces, ReadsAListLongerThanOnePage) {
    // 150 addresses need 6000 bytes of records: more than the classic 4096-byte buffer holds.
    const bool ran = inPrivateNetwork([] {
        ASSERT_EQ(sh("ip link add hvc0 type veth peer name hvd0"), 0);
        std::string batch;
        for (int i = 1; i <= 150; ++i) {
            batch += "addr add 10.78." + std::to_string(i / 200) + "." +
                     std::to_string(i % 200 + 1) + "/16 dev hvc0\n";
        }
        const std::string file = "/tmp/hv-ifaces-" + std::to_string(::getpid());
        FILE* out = std::fopen(file.c_str(), "w");
        ASSERT_NE(out, nullptr);
        std::fputs(batch.c_str(), out);
        std::fclose(out);
        const int status = sh("ip -batch " + file);
        std::remove(file.c_str());
        ASSERT_EQ(status, 0);

        const auto list = listInterfaces();
        ASSERT_TRUE(list.has_value());
        ASSERT_EQ(list->size(), 150u);
        EXPECT_EQ(list->front().address, "10.78.0.2");
        EXPECT_EQ(list->back().address, "10.78.0.151");
    });
    if (!ran) GTEST_SKIP() << "network namespaces are not allowed here";
}

}  // namespace
}  // namespace hv
