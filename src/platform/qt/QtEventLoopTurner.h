#pragma once

#include "platform/EventLoop.h"

namespace corvex {

// Runs a nested QEventLoop for the given time.
class QtEventLoopTurner final : public EventLoopTurner {
public:
    void runEventLoopFor(double seconds) override;
};

} // namespace corvex
