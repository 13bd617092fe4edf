#pragma once

// Files as the daemon may touch them: never through a link, never blocking on a FIFO, never
// reading without bound, never leaving a half-written policy behind.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace hv {

// Reads a regular file of at most maxBytes. A link, FIFO, device or directory at the path is not
// opened for reading ("is a symbolic link", "not a regular file"); a missing file sets `missing`.
ReadResult readRegularFile(const std::string& path, size_t maxBytes);

// Writes a new file beside the target (exclusive create, no link followed), fsyncs it, gives it
// exactly `mode` whatever the umask, renames it over the target and fsyncs the directory. A link
// at the target is replaced, never followed. With `owner`, the file is handed to that owner before
// the rename. On failure the target is untouched and the temporary file removed.
bool writeFileAtomically(const std::string& path, const std::string& bytes, mode_t mode,
                         const std::optional<FileOwner>& owner = std::nullopt);

// Truncates and writes the file in place (mode 0644 when created); refuses a link or anything
// but a regular file.
bool writeFileTruncating(const std::string& path, const std::string& bytes);

// Appends to the file, creating it with mode 0644; refuses a link or anything but a regular
// file. Opened and closed for every call, as a log line is.
bool appendBytes(const std::string& path, const std::string& bytes);

// Makes `to` a hard link to the regular file at `from`, replacing what `to` named: a new link
// beside `to`, renamed over it. Neither path is followed if it is a link.
bool linkReplacing(const std::string& from, const std::string& to);

// Creates the directory with `mode` unless it exists; true when a directory (not a link) owned by
// root and writable by nobody else stands at the path afterwards.
bool makeRootDirectory(const std::string& path, mode_t mode);

// Removes the directory entry (a link itself, not its target).
bool removePath(const std::string& path);
// True when anything, a dangling link included, stands at the path.
bool pathExists(const std::string& path);
// The names in the directory at the path ("." and ".." left out), unordered; nullopt when it
// cannot be opened as a directory. A link at the path is not followed.
std::optional<std::vector<std::string>> directoryNames(const std::string& path);
std::optional<FileInfo> pathInfo(const std::string& path);
// stat(): the file at the end of any links; nullopt when there is none.
std::optional<FileInfo> resolvedPathInfo(const std::string& path);

}  // namespace hv
