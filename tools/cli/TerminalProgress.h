#pragma once

#include "platform/OperationContext.h"

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>

namespace corvex::cli {

// The progress of a long transfer for a person watching it: one line on stderr,
// rewritten in place ("flight 3 of 6 (33%)"). When stderr is no terminal nothing is
// printed at all, so that scripts and logs read what they always did.
//
// As the progress sink of an operation it names each part of it by the label
// ("flight 3 of 6") and shows the share of the whole done; steps that are no part
// show their own text.
class TerminalProgress final : public ProgressSink {
public:
    // Prints only when the process's stderr is a terminal.
    explicit TerminalProgress(std::ostream& err, std::string partLabel = {});
    TerminalProgress(std::ostream& err, bool terminal, std::string partLabel);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // "<what> (<percent>%)", the percent being done / total.
    void show(const std::string& what, std::size_t done, std::size_t total);
    // "<what>" alone, for a transfer whose length is not known beforehand.
    void show(const std::string& what);
    // Ends the line, when one was shown, so that what follows starts on its own.
    void finish();

    // ProgressSink.
    void stepStarted(const OperationStep& step) override;
    void progressed(std::optional<double> fraction, const std::string& detail) override;
    void ended() override
    {
        finish();
        m_step.clear();
    }

private:
    std::ostream& m_err;
    bool m_terminal;
    std::string m_partLabel;
    std::string m_step;
    bool m_shown { false };
    std::string m_last;
};

} // namespace corvex::cli
