#include "admind/polkit.h"

#include <cstring>
#include <memory>

namespace hv {
namespace {

// polkit's CheckAuthorization flag that lets it ask the caller's agent for a password.
constexpr uint32_t kAllowUserInteraction = 1;
// Long enough for an administrator to type a password in the agent's dialog.
constexpr uint64_t kAuthorizationTimeoutUsec = 5 * 60 * 1'000'000ULL;

std::string errorText(int r, const sd_bus_error* error) {
    if (error != nullptr && sd_bus_error_is_set(error)) {
        return std::string(error->name) + (error->message ? std::string(": ") + error->message : "");
    }
    return std::strerror(-r);
}

// Reads the (bba{ss}) result: authorized, challenge, details; only the first matters here.
PolkitAnswer readAnswer(sd_bus_message* reply) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (error != nullptr) return {false, errorText(0, error)};
    int authorized = 0, challenge = 0;
    int r = sd_bus_message_enter_container(reply, 'r', "bba{ss}");
    if (r >= 0) r = sd_bus_message_read(reply, "bb", &authorized, &challenge);
    if (r < 0) return {false, "polkit's answer cannot be read: " + errorText(r, nullptr)};
    return {authorized != 0, std::nullopt};
}

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    (*static_cast<PolkitReply*>(userdata))(readAnswer(reply));
    return 0;
}

void forget(void* userdata) { delete static_cast<PolkitReply*>(userdata); }

}  // namespace

bool askPolkit(sd_bus* bus, const std::string& sender, PolkitReply done) {
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.PolicyKit1",
                                           "/org/freedesktop/PolicyKit1/Authority",
                                           "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
    if (r >= 0) {
        r = sd_bus_message_append(call, "(sa{sv})sa{ss}us", "system-bus-name", 1, "name", "s", sender.c_str(),
                                  kManageAction, 0, kAllowUserInteraction, "");
    }
    auto pending = std::make_unique<PolkitReply>(std::move(done));
    sd_bus_slot* slot = nullptr;
    if (r >= 0) r = sd_bus_call_async(bus, &slot, call, onReply, pending.get(), kAuthorizationTimeoutUsec);
    sd_bus_message_unref(call);
    if (r < 0) {
        (*pending)({false, "polkit cannot be asked: " + errorText(r, nullptr)});
        return false;
    }
    // The bus owns the pending call from here; the reply is freed with it, after onReply ran.
    sd_bus_slot_set_destroy_callback(slot, forget);
    pending.release();
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
    return true;
}

}  // namespace hv
