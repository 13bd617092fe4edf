#pragma once

// Hands an archive to horavelset, the one program that installs settings and policies and tells
// the daemon.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/config.h"

namespace hv {

// Installs a typedstream; returns nullopt on success, else one line saying what failed.
using Installer = std::function<std::optional<std::string>(std::string_view typedstream)>;

// horavelset next to this program's own executable, else the first one in PATH; nullopt if none.
std::optional<std::string> findHoravelset();

// Runs `program` with `input` on its standard input and waits for it. nullopt when it exited 0.
std::optional<std::string> runWithInput(const std::string& program, std::string_view input);

// The real installer: findHoravelset() then runWithInput().
Installer horavelsetInstaller();

// horavelset's work done in this process (installtool/install.h) against `config`, for a program
// that is itself root's and long-lived enough to spare the start of another: the admin service.
// Failures say which file could not be written, or that the archive was refused.
Installer libraryInstaller(const Config& config);

// Tells the running daemon to reload (SIGHUP: the console user's policy and grant, and the
// logout requests); false when no daemon is running to be told.
using ReloadSignal = std::function<bool()>;

// The line said after a change that the daemon could not be told about.
inline constexpr const char* kDaemonNotRunning =
    "Note: horaveld is not running; it reads this when it starts (systemctl start horaveld).";

}  // namespace hv
