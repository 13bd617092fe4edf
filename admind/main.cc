// horavel-admind: the admin service on the system bus (admind/service.h), started by D-Bus
// activation through its systemd unit and gone again after a minute without calls.

#include <pwd.h>

#include <cstring>
#include <ctime>
#include <iostream>

#include <CLI/CLI.hpp>

#include "admind/service.h"
#include "common/table_element.h"
#include "installtool/install.h"
#include "platform/linux/console.h"

namespace {

std::vector<hv::Account> systemAccounts() {
    std::vector<hv::Account> accounts;
    ::setpwent();
    while (const passwd* entry = ::getpwent()) accounts.push_back({entry->pw_name, entry->pw_uid});
    ::endpwent();
    return accounts;
}

}  // namespace

int main(int argc, char** argv) {
    hv::registerTableElement();

    CLI::App app{"horavel-admind: the Horavel admin service on the system bus (org.horavel.Admin1)"};
    app.set_version_flag("--version", "horavel-admind " HORAVEL_VERSION, "Print the version and exit");
    unsigned idleSeconds = 60;
    app.add_option("--idle-timeout", idleSeconds, "Seconds without a call after which the service exits")
        ->check(CLI::Range(1U, 86400U))
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    hv::AdminTools tools;
    // horavelset's own code, run here: the service is root's already, and spares a process per change.
    tools.installer = hv::libraryInstaller(tools.config);
    tools.reload = [&config = tools.config] { return hv::sendEvent(2, config) != 0; };
    tools.consoleUser = [] {
        auto session = hv::activeConsoleSession();
        return session ? std::optional<std::string>(session->userName) : std::nullopt;
    };
    tools.accounts = systemAccounts;
    tools.now = [] { return static_cast<double>(::time(nullptr)); };

    sd_event* event = nullptr;
    sd_bus* bus = nullptr;
    int r = sd_event_default(&event);
    if (r >= 0) r = sd_bus_open_system(&bus);
    if (r >= 0) r = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL);
    int status = 1;
    if (r < 0) {
        std::cerr << "horavel-admind: cannot connect to the system bus: " << std::strerror(-r) << "\n";
    } else {
        status = hv::serveAdmin(bus, event, tools, idleSeconds * 1'000'000ULL);
    }
    sd_bus_flush_close_unref(bus);
    sd_event_unref(event);
    return status;
}
