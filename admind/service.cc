#include "admind/service.h"

#include <signal.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>

#include "admind/polkit.h"
#include "tools/command_error.h"
#include "tools/grant_command.h"
#include "tools/history_command.h"
#include "tools/logout_command.h"
#include "tools/policy_command.h"
#include "tools/settings_command.h"
#include "tools/status_command.h"

namespace hv {
namespace {

constexpr const char* kNotAuthorized = "org.horavel.Admin1.Error.NotAuthorized";
constexpr const char* kInvalid = "org.horavel.Admin1.Error.Invalid";
constexpr const char* kFailed = "org.horavel.Admin1.Error.Failed";

// JSON as horavelctl prints it; text the JSON library cannot write as UTF-8 is replaced rather
// than thrown about, since store entries and settings may hold any bytes.
std::string jsonText(const Json& json) { return json.dump(2, ' ', false, Json::error_handler_t::replace); }

void replyError(sd_bus_message* call, const char* name, const std::string& line) {
    sd_bus_reply_method_errorf(call, name, "%s", line.c_str());
}

void replyError(sd_bus_message* call, const CommandError& error) {
    replyError(call, error.kind == CommandError::Kind::Invalid ? kInvalid : kFailed, error.line);
}

void replyDone(sd_bus_message* call, const std::optional<CommandError>& error) {
    if (error) replyError(call, *error);
    else sd_bus_reply_method_return(call, "");
}

void replyJson(sd_bus_message* call, const Outcome<Json>& outcome) {
    if (outcome.error) replyError(call, *outcome.error);
    else sd_bus_reply_method_return(call, "s", jsonText(*outcome.value).c_str());
}

// Reads the call's arguments (their types the vtable has checked already); false after replying
// Failed when they cannot be read.
template <typename... Args>
bool readArguments(sd_bus_message* call, const char* signature, Args... args) {
    const int r = sd_bus_message_read(call, signature, args...);
    if (r < 0) replyError(call, kFailed, std::string("the arguments cannot be read: ") + std::strerror(-r));
    return r >= 0;
}

// The SetSettings dictionary as the KEY=VALUE assignments `settings set` takes. A key holding
// "=" would be read as another key with another value, so it is refused here.
Outcome<std::vector<std::string>> readAssignments(sd_bus_message* call) {
    std::vector<std::string> assignments;
    int r = sd_bus_message_enter_container(call, 'a', "{ss}");
    while (r >= 0 && (r = sd_bus_message_enter_container(call, 'e', "ss")) > 0) {
        const char* key = nullptr;
        const char* value = nullptr;
        r = sd_bus_message_read(call, "ss", &key, &value);
        if (r < 0) break;
        if (std::strchr(key, '=') != nullptr) {
            return {std::nullopt, invalidRequest(std::string("horavelctl settings: \"") + key + "\" is not a setting name")};
        }
        assignments.push_back(std::string(key) + "=" + value);
        r = sd_bus_message_exit_container(call);
    }
    if (r >= 0) r = sd_bus_message_exit_container(call);
    if (r < 0) return {std::nullopt, failedRequest(std::string("the settings cannot be read: ") + std::strerror(-r))};
    return {std::move(assignments), std::nullopt};
}

class AdminService {
public:
    AdminService(sd_bus* bus, sd_event* event, const AdminTools& tools, uint64_t idleTimeoutUsec)
        : bus_(bus), event_(event), tools_(tools), idleTimeout_(idleTimeoutUsec) {}
    ~AdminService() {
        sd_event_source_unref(idle_);
        sd_bus_slot_unref(object_);
    }
    AdminService(const AdminService&) = delete;
    AdminService& operator=(const AdminService&) = delete;

    int run();

private:
    using Perform = void (AdminService::*)(sd_bus_message* call);
    struct Method {
        const char* name;
        Perform perform;
    };
    static const Method kMethods[];
    static const sd_bus_vtable kVtable[];

    static int onCall(sd_bus_message* call, void* userdata, sd_bus_error* error);
    static int onIdle(sd_event_source* source, uint64_t usec, void* userdata);
    static int onStop(sd_event_source* source, const signalfd_siginfo* info, void* userdata);
    void begin();
    void end();
    void finish(sd_bus_message* call, Perform perform, const PolkitAnswer& answer);

    void listAccounts(sd_bus_message* call);
    void getPolicy(sd_bus_message* call);
    void setPolicy(sd_bus_message* call);
    void removePolicy(sd_bus_message* call);
    void getSettings(sd_bus_message* call);
    void setSettings(sd_bus_message* call);
    void resetSettings(sd_bus_message* call);
    void status(sd_bus_message* call);
    void grant(sd_bus_message* call);
    void logout(sd_bus_message* call);
    void history(sd_bus_message* call);

    sd_bus* bus_;
    sd_event* event_;
    const AdminTools& tools_;
    uint64_t idleTimeout_;
    sd_event_source* idle_ = nullptr;
    sd_bus_slot* object_ = nullptr;
    int inProgress_ = 0;  // calls received and not answered yet (polkit may be asking for a password)
    bool stopping_ = false;  // asked to stop: exit once no call is in progress
};

const AdminService::Method AdminService::kMethods[] = {
    {"ListAccounts", &AdminService::listAccounts}, {"GetPolicy", &AdminService::getPolicy},
    {"SetPolicy", &AdminService::setPolicy},       {"RemovePolicy", &AdminService::removePolicy},
    {"GetSettings", &AdminService::getSettings},   {"SetSettings", &AdminService::setSettings},
    {"ResetSettings", &AdminService::resetSettings}, {"Status", &AdminService::status},
    {"Grant", &AdminService::grant},               {"Logout", &AdminService::logout},
    {"History", &AdminService::history},
};

const sd_bus_vtable AdminService::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("ListAccounts", "", , "s", SD_BUS_PARAM(accounts), onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetPolicy", "s", SD_BUS_PARAM(user), "s", SD_BUS_PARAM(policy), onCall,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetPolicy", "ss", SD_BUS_PARAM(user) SD_BUS_PARAM(json), "", , onCall,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("RemovePolicy", "s", SD_BUS_PARAM(user), "", , onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("GetSettings", "", , "s", SD_BUS_PARAM(settings), onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("SetSettings", "a{ss}", SD_BUS_PARAM(settings), "", , onCall,
                             SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ResetSettings", "", "", onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Status", "", , "s", SD_BUS_PARAM(status), onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Grant", "si", SD_BUS_PARAM(user) SD_BUS_PARAM(minutes), "i", SD_BUS_PARAM(granted),
                             onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("Logout", "s", SD_BUS_PARAM(user), "", , onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD_WITH_NAMES("History", "su", SD_BUS_PARAM(user) SD_BUS_PARAM(days), "s", SD_BUS_PARAM(history),
                             onCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// Every call waits for polkit's answer before anything is read or done; the idle timer stands
// still meanwhile.
int AdminService::onCall(sd_bus_message* call, void* userdata, sd_bus_error*) {
    auto* self = static_cast<AdminService*>(userdata);
    const char* member = sd_bus_message_get_member(call);
    Perform perform = nullptr;
    for (const Method& method : kMethods) {
        if (std::strcmp(method.name, member) == 0) perform = method.perform;
    }
    if (perform == nullptr) return sd_bus_reply_method_errorf(call, kFailed, "%s is not served", member);
    const char* sender = sd_bus_message_get_sender(call);
    self->begin();
    sd_bus_message_ref(call);
    askPolkit(self->bus_, sender ? sender : "",
              [self, call, perform](const PolkitAnswer& answer) { self->finish(call, perform, answer); });
    return 1;
}

void AdminService::finish(sd_bus_message* call, Perform perform, const PolkitAnswer& answer) {
    if (answer.error) {
        replyError(call, kFailed, "polkit could not be asked: " + *answer.error);
    } else if (!answer.authorized) {
        replyError(call, kNotAuthorized,
                   std::string("not authorized to administer Horavel (polkit action ") + kManageAction + ")");
    } else {
        try {
            (this->*perform)(call);
        } catch (const std::exception& e) {
            replyError(call, kFailed, e.what());
        }
    }
    sd_bus_message_unref(call);
    end();
}

void AdminService::begin() {
    ++inProgress_;
    sd_event_source_set_enabled(idle_, SD_EVENT_OFF);
}

void AdminService::end() {
    if (--inProgress_ > 0) return;
    if (stopping_) {
        sd_event_exit(event_, 0);
        return;
    }
    sd_event_source_set_time_relative(idle_, idleTimeout_);
    sd_event_source_set_enabled(idle_, SD_EVENT_ONESHOT);
}

// Runs only with no call in progress: begin() turns the timer off. Giving the name back first lets
// the bus start a fresh instance for the next call; calls that reached this one before that are
// still served (they hold the service as any call does, and the timer comes back after them).
int AdminService::onIdle(sd_event_source*, uint64_t, void* userdata) {
    auto* self = static_cast<AdminService*>(userdata);
    sd_bus_release_name(self->bus_, kAdminBusName);
    while (sd_bus_process(self->bus_, nullptr) > 0) {
    }
    return self->inProgress_ > 0 ? 0 : sd_event_exit(self->event_, 0);
}

// systemd stops the service with SIGTERM, and does so as soon as the name is given back (a Type=dbus
// service without its name is done): calls already received are answered first.
int AdminService::onStop(sd_event_source*, const signalfd_siginfo*, void* userdata) {
    auto* self = static_cast<AdminService*>(userdata);
    self->stopping_ = true;
    return self->inProgress_ > 0 ? 0 : sd_event_exit(self->event_, 0);
}

int AdminService::run() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    int r = sd_bus_add_object_vtable(bus_, &object_, kAdminObjectPath, kAdminInterface, kVtable, this);
    if (r >= 0) r = sd_event_add_time_relative(event_, &idle_, CLOCK_MONOTONIC, idleTimeout_, 0, onIdle, this);
    if (r >= 0) r = sd_event_add_signal(event_, nullptr, SIGTERM, onStop, this);
    if (r < 0) {
        std::cerr << "horavel-admind: cannot publish " << kAdminObjectPath << ": " << std::strerror(-r) << "\n";
        return 1;
    }
    r = sd_bus_request_name(bus_, kAdminBusName, 0);
    if (r < 0) {
        std::cerr << "horavel-admind: cannot take the name " << kAdminBusName << ": " << std::strerror(-r) << "\n";
        return 1;
    }
    r = sd_event_loop(event_);
    if (r < 0) {
        std::cerr << "horavel-admind: the event loop failed: " << std::strerror(-r) << "\n";
        return 1;
    }
    return 0;
}

void AdminService::listAccounts(sd_bus_message* call) {
    replyJson(call, accountsJson(tools_.config, tools_.now(), tools_.accounts()));
}

void AdminService::getPolicy(sd_bus_message* call) {
    const char* user = nullptr;
    if (readArguments(call, "s", &user)) replyJson(call, storedPolicyJson(tools_.config, user));
}

void AdminService::setPolicy(sd_bus_message* call) {
    const char* user = nullptr;
    const char* json = nullptr;
    if (!readArguments(call, "ss", &user, &json)) return;
    std::ostringstream said;
    replyDone(call, installPolicy(tools_.config, user, json, kStandardInput, tools_.installer, said));
}

void AdminService::removePolicy(sd_bus_message* call) {
    const char* user = nullptr;
    if (!readArguments(call, "s", &user)) return;
    std::ostringstream said;
    replyDone(call, hv::removePolicy(tools_.config, user, tools_.reload, said));
}

void AdminService::getSettings(sd_bus_message* call) { replyJson(call, settingsJson(tools_.config)); }

void AdminService::setSettings(sd_bus_message* call) {
    Outcome<std::vector<std::string>> assignments = readAssignments(call);
    if (assignments.error) return replyError(call, *assignments.error);
    std::ostringstream said;
    replyDone(call, changeSettings(tools_.config, *assignments.value, tools_.installer, said));
}

void AdminService::resetSettings(sd_bus_message* call) {
    std::ostringstream said;
    replyDone(call, hv::resetSettings(tools_.config, tools_.installer, said));
}

void AdminService::status(sd_bus_message* call) {
    sd_bus_reply_method_return(call, "s", jsonText(statusJson(tools_.config, tools_.consoleUser)).c_str());
}

void AdminService::grant(sd_bus_message* call) {
    const char* user = nullptr;
    int32_t minutes = 0;
    if (!readArguments(call, "si", &user, &minutes)) return;
    std::ostringstream said;
    Outcome<int32_t> granted = grantToday(tools_.config, user, minutes, tools_.now(), tools_.reload, said);
    if (granted.error) return replyError(call, *granted.error);
    sd_bus_reply_method_return(call, "i", *granted.value);
}

void AdminService::logout(sd_bus_message* call) {
    const char* user = nullptr;
    if (!readArguments(call, "s", &user)) return;
    std::ostringstream said;
    replyDone(call, requestLogout(tools_.config, user, tools_.reload, said));
}

void AdminService::history(sd_bus_message* call) {
    const char* user = nullptr;
    uint32_t days = 0;
    if (readArguments(call, "su", &user, &days)) {
        // A fold that fails goes to the service's log (the journal of its unit).
        replyJson(call, historyJson(tools_.config, user, days, tools_.now(), std::cerr));
    }
}

}  // namespace

int serveAdmin(sd_bus* bus, sd_event* event, const AdminTools& tools, uint64_t idleTimeoutUsec) {
    AdminService service(bus, event, tools, idleTimeoutUsec);
    return service.run();
}

}  // namespace hv
