#pragma once

// Why an administrative operation did not do what was asked, for the command line and for the
// admin service alike: the service turns the kind into its D-Bus error name and passes the line
// on unchanged, so both say the same thing.

#include <optional>
#include <string>

namespace hv {

struct CommandError {
    enum class Kind {
        Invalid,  // the request itself is wrong (an unknown account, a malformed value)
        Failed,   // the request was fine but could not be carried out (a file, the store, the daemon)
    };
    Kind kind = Kind::Failed;
    std::string line;  // the one line horavelctl prints, without its newline
};

inline CommandError invalidRequest(std::string line) { return {CommandError::Kind::Invalid, std::move(line)}; }
inline CommandError failedRequest(std::string line) { return {CommandError::Kind::Failed, std::move(line)}; }

// A value, or why there is none.
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::optional<CommandError> error;
};

}  // namespace hv
