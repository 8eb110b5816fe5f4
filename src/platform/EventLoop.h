#pragma once

namespace corvex {

// Long instrument work keeps the windows painted by turning the event loop for a short,
// fixed time between its steps. The program is single-threaded: this is the only way
// other events get handled while an exchange sequence runs.
class EventLoopTurner {
public:
    virtual ~EventLoopTurner() = default;
    virtual void runEventLoopFor(double seconds) = 0;
};

} // namespace corvex
