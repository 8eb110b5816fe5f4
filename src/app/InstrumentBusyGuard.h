#pragma once

#include <QObject>

namespace corvex {

// Whether an instrument command sequence is running. Exchanges are synchronous, but a
// sequence may turn the event loop (a please-wait sheet, a long transfer, an alert), and
// the user must not start a second instrument command from the windows meanwhile: the
// two would interleave their frames on the one serial line.
class InstrumentBusyState final : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool isBusy() const { return m_depth > 0; }

signals:
    // Emitted when the first guard is taken and when the last one is released.
    void busyChanged(bool busy);

private:
    friend class InstrumentBusyGuard;
    void acquire();
    void release();

    int m_depth { 0 };
};

// Held for the duration of one instrument command sequence. Guards nest: a sequence
// that runs inside another (the connect sequence started while a command shows an
// alert) keeps the controls locked until the outer one ends.
class InstrumentBusyGuard final {
public:
    explicit InstrumentBusyGuard(InstrumentBusyState& state)
        : m_state(state)
    {
        m_state.acquire();
    }
    ~InstrumentBusyGuard() { m_state.release(); }
    InstrumentBusyGuard(const InstrumentBusyGuard&) = delete;
    InstrumentBusyGuard& operator=(const InstrumentBusyGuard&) = delete;

private:
    InstrumentBusyState& m_state;
};

inline void InstrumentBusyState::acquire()
{
    if (m_depth++ == 0)
        emit busyChanged(true);
}

inline void InstrumentBusyState::release()
{
    if (--m_depth == 0)
        emit busyChanged(false);
}

} // namespace corvex
