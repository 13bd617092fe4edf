#pragma once

// Hands an archive to horavelset, the one program that installs settings and policies and tells
// the daemon.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace hv {

// Installs a typedstream; returns nullopt on success, else one line saying what failed.
using Installer = std::function<std::optional<std::string>(std::string_view typedstream)>;

// horavelset next to this program's own executable, else the first one in PATH; nullopt if none.
std::optional<std::string> findHoravelset();

// Runs `program` with `input` on its standard input and waits for it. nullopt when it exited 0.
std::optional<std::string> runWithInput(const std::string& program, std::string_view input);

// The real installer: findHoravelset() then runWithInput().
Installer horavelsetInstaller();

}  // namespace hv
