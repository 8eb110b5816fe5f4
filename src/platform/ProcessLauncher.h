#pragma once

#include "base/Result.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace corvex {

// Starts programs that live on without the caller: the update helper, which outlives
// the program it replaces, and the program the helper starts again.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts `program` with `arguments` (not counting the program itself) in
    // `workingDirectory`; answers its process id, or why it could not start.
    virtual Result<pid_t, std::string> startDetached(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDirectory)
        = 0;
};

// posix_spawn in a session of its own, so that closing the terminal or the desktop
// session of the starter does not take the child down; standard input is /dev/null and
// no descriptor of the starter but standard output and error is inherited. The child
// is not waited for: the starter is expected to exit soon after.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    Result<pid_t, std::string> startDetached(
        const std::string& program, const std::vector<std::string>& arguments, const std::string& workingDirectory) override;
};

} // namespace corvex
