#pragma once

// Asking polkit whether a caller on the system bus may administer Horavel.

#include <systemd/sd-bus.h>

#include <functional>
#include <optional>
#include <string>

namespace hv {

// The action every method of the admin service is guarded by.
inline constexpr const char* kManageAction = "org.horavel.manage";

// polkit's answer: authorized or not, or (error set) why it could not be asked.
struct PolkitAnswer {
    bool authorized = false;
    std::optional<std::string> error;
};
using PolkitReply = std::function<void(const PolkitAnswer&)>;

// Sends CheckAuthorization to org.freedesktop.PolicyKit1 for the subject "system-bus-name"
// `sender`, action kManageAction, with user interaction allowed (polkit may ask for a
// password, which is why the call is asynchronous and its timeout long). `done` runs once, from
// the bus's event loop, with the answer (the bus owns the pending call). Returns false when the
// call could not be sent, `done` having run at once with the error.
bool askPolkit(sd_bus* bus, const std::string& sender, PolkitReply done);

}  // namespace hv
