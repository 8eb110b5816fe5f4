#include "TerminalProgress.h"

#include <unistd.h>

namespace corvex::cli {

TerminalProgress::TerminalProgress(std::ostream& err)
    : TerminalProgress(err, isatty(STDERR_FILENO) != 0)
{
}

TerminalProgress::TerminalProgress(std::ostream& err, bool terminal)
    : m_err(err)
    , m_terminal(terminal)
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

void TerminalProgress::finish()
{
    if (m_shown)
        m_err << "\n" << std::flush;
    m_shown = false;
    m_last.clear();
}

} // namespace corvex::cli
