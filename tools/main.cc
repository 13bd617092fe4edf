// horavelctl: the administrator's tool. Reads and writes the archive formats as JSON, shows and
// changes the settings and an account's policy (through horavelset, which tells the daemon), and
// reports the daemon's state.

#include <unistd.h>

#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/table_element.h"
#include "platform/config.h"
#include "platform/linux/console.h"
#include "tools/archive_io.h"
#include "installtool/install.h"
#include "tools/doctor_command.h"
#include "tools/grant_command.h"
#include "tools/history_command.h"
#include "tools/install_runner.h"
#include "tools/logout_command.h"
#include "tools/policy_admin.h"
#include "tools/policy_command.h"
#include "tools/settings_command.h"
#include "tools/status_command.h"

namespace {

// What horavelset has just installed reaches the daemon only if one is running to be told.
int hintUnlessRunning(int status, const hv::Config& config) {
    if (status == 0 && !hv::probeDaemon(config).running) std::cout << hv::kDaemonNotRunning << "\n";
    return status;
}

bool requireRoot(const char* what) {
    if (::geteuid() == 0) return true;
    std::cerr << "horavelctl " << what << ": must be run as root (it installs files and signals the daemon)\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    hv::registerTableElement();
    const hv::Config config;

    CLI::App app{"horavelctl: administer Horavel (archives, settings, policies, status)"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "horavelctl " HORAVEL_VERSION, "Print the version and exit");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return "horavelctl: " + std::string(e.what()) + " (see --help)\n";
    });

    std::string file = "-";
    auto* decode = app.add_subcommand(
        "decode", "Print a keyed archive, typedstream or property list (told apart by its bytes) as JSON");
    decode->add_option("file", file, "The file to read, - for standard input")->capture_default_str();

    bool keyed = false, typedstream = false, xml = false;
    auto* encode = app.add_subcommand("encode", "Write JSON (as decode prints it) in one of the formats");
    auto* formats = encode->add_option_group("format", "the format to write");
    formats->add_flag("--keyed", keyed, "keyed archive (binary property list), as policy files are");
    formats->add_flag("--typedstream", typedstream, "typedstream, as horavelset reads");
    formats->add_flag("--xml", xml, "XML property list, as the settings file is");
    formats->require_option(1);
    encode->add_option("file", file, "The JSON file to read, - for standard input")->capture_default_str();

    auto* settings = app.add_subcommand("settings", "Show or change the system-wide settings");
    settings->require_subcommand(1);
    auto* settingsShow = settings->add_subcommand("show", "Print every setting");
    std::vector<std::string> assignments;
    auto* settingsSet = settings->add_subcommand(
        "set", "Change settings (KEY=VALUE...) and have the daemon reload them; numbers for status, "
               "keeplimit, warntime, warnonce, showremain, hideremain, diskmon, netmon, appmon, "
               "diskmontime, tracksleep, notimeout; text for warnmsg, appmsg, rangemsg, logoutmsg, diskmsg, "
               "grantmsg. Refuses values the daemon would misread; templates left unset get default texts");
    settingsSet->add_option("assignments", assignments, "KEY=VALUE pairs")->required();
    auto* settingsReset = settings->add_subcommand(
        "reset", "Replace the settings file (a corrupt one included) with the defaults: monitoring on, "
                 "default notice texts");

    auto* policy = app.add_subcommand("policy", "Show or install an account's policy");
    policy->require_subcommand(1);
    std::string user;
    bool asJson = false;
    auto* policyShow = policy->add_subcommand("show", "Print an account's rules and today's usage");
    policyShow->add_option("user", user, "The account's short name")->required();
    policyShow->add_flag("--json", asJson, "Print the rules in the JSON form that policy set reads");
    auto* policySet = policy->add_subcommand(
        "set", "Install an account's policy from a JSON file (see horavel-policy(5)) and have the daemon reload it");
    policySet->add_option("user", user, "The account's short name")->required();
    policySet->add_option("file", file, "The JSON policy, - for standard input")->required();

    policy->add_subcommand("list", "List every managed account with today's use, allowance and grant");
    auto* policyRemove = policy->add_subcommand(
        "remove", "Remove an account's policy (the store entry, its grant and the home file) and have the daemon "
                  "reload: no limits apply to the account any more");
    policyRemove->add_option("user", user, "The account's short name")->required();

    int32_t minutes = 0;
    bool showGrant = false;
    auto* grant = app.add_subcommand(
        "grant", "Give an account extra minutes for today only (negative takes time away, down to none at all); "
                 "the child is told with the \"grantmsg\" notice");
    grant->add_option("user", user, "The account's short name")->required();
    auto* grantMinutes = grant->add_option("minutes", minutes, "Minutes to add to today's grant (e.g. 15 or -10)");
    auto* grantShow = grant->add_flag("--show", showGrant, "Print today's grant and what the day allows with it");
    grantMinutes->excludes(grantShow);

    auto* logout = app.add_subcommand(
        "logout", "End every session of the account now, as a forced logout does (exit status 1 when the daemon "
                  "is not running)");
    logout->add_option("user", user, "The account's short name")->required();

    uint32_t historyDays = hv::kDefaultHistoryDays;
    bool historyJson = false;
    auto* history = app.add_subcommand(
        "history", "Print an account's use day by day (minutes used of those allowed, a bar, the applications) and "
                   "the total of the last 7 days");
    bool historyFold = false;
    auto* historyUser = history->add_option("user", user, "The account's short name");
    history->add_option("--days", historyDays, "How many days, today's the last (1 to 400)")->capture_default_str();
    history->add_flag("--json", historyJson, "Print the days with their events as JSON");
    auto* historyFoldFlag = history->add_flag(
        "--fold", historyFold, "Only fold the daemon's journal into the history database (the daily timer does)");
    historyFoldFlag->excludes(historyUser);

    auto* doctor = app.add_subcommand(
        "doctor", "Check the installation: one line per check, ok, warn or fail (exit status 1 on a fail)");

    bool statusJson = false;
    auto* status = app.add_subcommand("status", "Say whether the daemon runs, whether monitoring is on, who is at the "
                                                "console and what time is left (exit status 3 when the daemon is not "
                                                "running)");
    status->add_flag("--json", statusJson, "Print the same facts and the raw remaining-time record as JSON");

    CLI11_PARSE(app, argc, argv);

    if (decode->parsed()) return hv::runDecode(file, std::cout, std::cerr);
    if (encode->parsed()) {
        auto format = keyed ? hv::ArchiveFormat::KeyedArchive
                            : typedstream ? hv::ArchiveFormat::Typedstream : hv::ArchiveFormat::PropertyList;
        return hv::runEncode(format, file, std::cout, std::cerr);
    }
    if (settingsShow->parsed()) return hv::runSettingsShow(config, std::cout, std::cerr);
    if (settingsSet->parsed()) {
        if (!requireRoot("settings set")) return 1;
        return hintUnlessRunning(
            hv::runSettingsSet(config, assignments, hv::horavelsetInstaller(), std::cout, std::cerr), config);
    }
    if (settingsReset->parsed()) {
        if (!requireRoot("settings reset")) return 1;
        return hintUnlessRunning(hv::runSettingsReset(config, hv::horavelsetInstaller(), std::cout, std::cerr), config);
    }
    if (grant->parsed()) {
        if (!requireRoot("grant")) return 1;
        if (showGrant) return hv::runGrantShow(config, user, static_cast<double>(::time(nullptr)), std::cout, std::cerr);
        if (grantMinutes->count() == 0) {
            std::cerr << "horavelctl grant: give the minutes to add, or --show (see --help)\n";
            return 1;
        }
        return hv::runGrant(config, user, minutes, static_cast<double>(::time(nullptr)),
                            [&config] { return hv::sendEvent(2, config) != 0; }, std::cout, std::cerr);
    }
    if (logout->parsed()) {
        if (!requireRoot("logout")) return 1;
        return hv::runLogout(config, user, [&config] { return hv::sendEvent(2, config) != 0; }, std::cout, std::cerr);
    }
    if (policy->got_subcommand("list")) {
        return hv::runPolicyList(config, static_cast<double>(::time(nullptr)), std::cout, std::cerr);
    }
    if (policyRemove->parsed()) {
        if (!requireRoot("policy remove")) return 1;
        return hv::runPolicyRemove(config, user, [&config] { return hv::sendEvent(2, config) != 0; }, std::cout,
                                   std::cerr);
    }
    if (history->parsed()) {
        if (historyFold) {
            if (!requireRoot("history --fold")) return 1;
            return hv::runHistoryFold(config, std::cout, std::cerr);
        }
        if (historyUser->count() == 0) {
            std::cerr << "horavelctl history: give the account, or --fold (see --help)\n";
            return 1;
        }
        return hv::runHistory(config, user, historyDays, historyJson, static_cast<double>(::time(nullptr)), std::cout,
                              std::cerr);
    }
    if (doctor->parsed()) return hv::runDoctor(config, hv::DoctorPaths{}, std::cout);
    if (policyShow->parsed()) return hv::runPolicyShow(config, user, asJson, std::cout, std::cerr);
    if (policySet->parsed()) {
        if (!requireRoot("policy set")) return 1;
        return hintUnlessRunning(hv::runPolicySet(config, user, file, hv::horavelsetInstaller(), std::cout, std::cerr),
                                 config);
    }
    return hv::runStatus(
        config,
        [] {
            auto session = hv::activeConsoleSession();
            return session ? std::optional<std::string>(session->userName) : std::nullopt;
        },
        statusJson, std::cout);
}
