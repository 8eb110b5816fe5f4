// The software side of the update window: the download of the offered program, its
// unpacking and the hand-over to the update helper.
#include "updates/ui/UpdateWindow.h"

#include "platform/LogSink.h"

namespace corvex {

void UpdateWindow::downloadSoftwareUpdateButton()
{
    logLine(*m_environment.log, "Software download is not available yet");
}

void UpdateWindow::installSoftwareUpdateFromDataAndRelaunchApp(const Bytes&)
{
    logLine(*m_environment.log, "Software installation is not available yet");
}

bool UpdateWindow::unzipFile(const QString&)
{
    logLine(*m_environment.log, "Unpacking is not available yet");
    return false;
}

void UpdateWindow::manuallyDownloadLatestSoftware()
{
    logLine(*m_environment.log, "Manual download is not available yet");
}

} // namespace corvex
