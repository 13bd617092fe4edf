#include "daemon/command_line.h"

namespace hv {

namespace {

constexpr const char* kUsage = "usage: horaveld [--help | --version]";

}  // namespace

std::optional<int> answerCommandLine(const std::vector<std::string>& args, std::string& out,
                                     std::string& err) {
    if (args.empty()) return std::nullopt;
    if (args.size() == 1 && args[0] == "--help") {
        out += kUsage;
        out += "\n"
               "The Horavel parental time-control daemon. Started as root by the init system, it\n"
               "detaches, writes /var/run/horavel.pid and enforces each account's policy. Only one\n"
               "runs at a time. Signals: SIGHUP reloads the console user's policy, SIGUSR1 and\n"
               "SIGUSR2 reload the settings.\n";
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out += "horaveld " HORAVEL_VERSION "\n";
        return 0;
    }
    err += kUsage;
    err += "\n";
    return 2;
}

}  // namespace hv
