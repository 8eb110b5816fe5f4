#include "TerminalProgress.h"

#include <unistd.h>

namespace corvex::cli {

TerminalProgress::TerminalProgress(std::ostream& err, std::string partLabel)
    : TerminalProgress(err, isatty(STDERR_FILENO) != 0, std::move(partLabel))
{
}

TerminalProgress::TerminalProgress(std::ostream& err, bool terminal, std::string partLabel)
    : m_err(err)
    , m_terminal(terminal)
    , m_partLabel(std::move(partLabel))
{
}

TerminalProgress::~TerminalProgress()
{
    finish();
}

void TerminalProgress::show(const std::string& what, std::size_t done, std::size_t total)
{
    if (!m_terminal || total == 0)
        return;
    const std::size_t percent = done >= total ? 100 : done * 100 / total;
    show(what + " (" + std::to_string(percent) + "%)");
}

void TerminalProgress::show(const std::string& line)
{
    if (!m_terminal)
        return;
    // A line the same as the last is not written again: thousands of chunks would
    // otherwise keep the terminal busy.
    if (line == m_last)
        return;
    m_last = line;
    // Back to the start of the line, the new text, the rest of the old one erased.
    m_err << "\r" << line << "\x1b[K" << std::flush;
    m_shown = true;
}

void TerminalProgress::stepStarted(const OperationStep& step)
{
    if (step.parts == 0) {
        m_step = step.text;
        show(m_step);
        return;
    }
    m_step = m_partLabel + " " + std::to_string(step.part) + " of " + std::to_string(step.parts);
    // Done: the parts before this one.
    show(m_step, step.part - 1, step.parts);
}

void TerminalProgress::progressed(std::optional<double> fraction, const std::string&)
{
    // Per mille, so that the share is read the way done / total is, without a
    // rounding error of the fraction taking a percent off.
    constexpr std::size_t scale = 1000;
    if (!m_step.empty() && fraction)
        show(m_step, static_cast<std::size_t>(*fraction * scale + 0.5), scale);
}

void TerminalProgress::finish()
{
    if (m_shown)
        m_err << "\n" << std::flush;
    m_shown = false;
    m_last.clear();
}

} // namespace corvex::cli
