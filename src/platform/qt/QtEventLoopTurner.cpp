#include "platform/qt/QtEventLoopTurner.h"

#include <QEventLoop>
#include <QTimer>

namespace corvex {

void QtEventLoopTurner::runEventLoopFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace corvex
