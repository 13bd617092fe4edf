#include "platform/linux/firewall.h"

#include <sys/wait.h>

#include <vector>

#include "platform/linux/shell.h"

namespace hv {

namespace {

constexpr const char* kNft = "/usr/sbin/nft";

}  // namespace

std::string firewallRuleset(const std::set<uid_t>& blocked) {
    // Declaring the table first makes the delete succeed when there is none yet.
    std::string text = "table inet horavel\ndelete table inet horavel\n";
    if (blocked.empty()) return text;
    std::string uids;
    for (const uid_t uid : blocked) uids += (uids.empty() ? "" : ", ") + std::to_string(uid);
    // TCP gets a reset, so connect() fails at once with "connection refused"; everything else an
    // ICMP unreachable. Loopback stays open: the desktop itself runs over it.
    text += "table inet horavel {\n"
            "  chain output {\n"
            "    type filter hook output priority filter; policy accept;\n"
            "    oifname \"lo\" accept\n"
            "    meta skuid { " + uids + " } meta l4proto tcp reject with tcp reset\n"
            "    meta skuid { " + uids + " } reject\n"
            "  }\n"
            "}\n";
    return text;
}

bool applyFirewall(const std::set<uid_t>& blocked) {
    const int status = runProgramWithInput({kNft, "-f", "-"}, firewallRuleset(blocked));
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace hv
