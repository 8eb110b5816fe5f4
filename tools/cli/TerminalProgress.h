#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace corvex::cli {

// The progress of a long transfer for a person watching it: one line on stderr,
// rewritten in place ("flight 3 of 6 (33%)"). When stderr is no terminal nothing is
// printed at all, so that scripts and logs read what they always did.
class TerminalProgress {
public:
    // Prints only when the process's stderr is a terminal.
    explicit TerminalProgress(std::ostream& err);
    TerminalProgress(std::ostream& err, bool terminal);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // "<what> (<percent>%)", the percent being done / total.
    void show(const std::string& what, std::size_t done, std::size_t total);
    // "<what>" alone, for a transfer whose length is not known beforehand.
    void show(const std::string& what);
    // Ends the line, when one was shown, so that what follows starts on its own.
    void finish();

private:
    std::ostream& m_err;
    bool m_terminal;
    bool m_shown { false };
    std::string m_last;
};

} // namespace corvex::cli
