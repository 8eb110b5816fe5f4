// The firmware side of the update window: the download of the offered firmware, the
// installation from a file, and the line-by-line installation into the instrument.
#include "updates/ui/UpdateWindow.h"

#include "platform/LogSink.h"

namespace corvex {

void UpdateWindow::downloadFirmwareUpdateButton()
{
    logLine(*m_environment.log, "Firmware download is not available yet");
}

void UpdateWindow::updateFirmwareFromAFile()
{
    logLine(*m_environment.log, "Firmware installation from a file is not available yet");
}

void UpdateWindow::installFirmwareFromData(const std::optional<Bytes>&)
{
    logLine(*m_environment.log, "Firmware installation is not available yet");
}

} // namespace corvex
