#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// The folder in which virtual instruments (a pty, or a symlink to one) publish
// themselves; the program treats every entry there as a plugged-in instrument.
// Plain POSIX so that the virtual instrument, which has no Qt, agrees on the place.
//
// In order: $CORVEX_INSTRUMENT_DIR; $XDG_RUNTIME_DIR/corvex/instruments;
// /run/user/<uid>/corvex/instruments when that runtime folder exists and belongs to us
// (sessions started without a login manager often lack the variable but have the
// folder); ${XDG_CACHE_HOME:-$HOME/.cache}/corvex/instruments otherwise. Never the
// shared /tmp: anyone able to drop a symlink there could pose as an instrument.
std::string instrumentDirectoryPath();

// The same with the environment and the runtime-folder check passed in, for tests.
struct InstrumentDirectoryInputs {
    std::function<std::optional<std::string>(const char* name)> environment;
    // /run/user/<uid> when it is a folder owned by the user, else nothing.
    std::function<std::optional<std::string>()> userRuntimeFolder;
};
std::string instrumentDirectoryPath(const InstrumentDirectoryInputs& inputs);

// The program's own folder for this session, the instruments folder's parent by the
// same rules: $XDG_RUNTIME_DIR/corvex, /run/user/<uid>/corvex, else
// ${XDG_CACHE_HOME:-$HOME/.cache}/corvex.
std::string runtimeFolderPath();
std::string runtimeFolderPath(const InstrumentDirectoryInputs& inputs);

// The user's data folder, where the program keeps what must outlive a session (the
// airspaces cache, the log-book backups): $XDG_DATA_HOME when it is an absolute path,
// else $HOME/.local/share. The same place the Qt layer's generic data location names.
std::string userDataHomePath();
std::string userDataHomePath(const std::function<std::optional<std::string>(const char* name)>& environment);

// Creates the folder and any missing parents with mode 0700. True when the folder
// exists afterwards (an existing folder keeps its mode); otherwise the error, when
// asked for, names the step that failed ("mkdir /a/b: Permission denied").
bool ensurePrivateDirectory(const std::string& path, std::string* error = nullptr);

// A stable, non-zero registry handle for a device known only by its path.
std::uint32_t registryHandleForPath(std::string_view path);

} // namespace corvex
