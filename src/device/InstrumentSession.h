#pragma once

#include "base/Result.h"
#include "device/DeviceError.h"

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace corvex {

class CorvexDevice;

// The one owner of the instrument's serial line within a program. Every operation
// that talks to the instrument (a list, a download, the log book, pilot data, an
// airspaces transfer, a firmware installation, an erase, a backup) borrows it for its
// whole length through a Lease; while one is held, a second borrower is refused with
// the first one's purpose, so that two operations never interleave their frames on
// the line. Windows follow the busy state to grey their instrument commands.
//
// Across processes the serial device itself is locked when it is opened (see
// PosixSerialPortOpener); this class keeps the operations of one program apart.
class InstrumentSession {
public:
    explicit InstrumentSession(CorvexDevice& device)
        : m_device(&device)
    {
    }
    InstrumentSession(const InstrumentSession&) = delete;
    InstrumentSession& operator=(const InstrumentSession&) = delete;

    class [[nodiscard]] Lease {
    public:
        Lease(Lease&& other) noexcept
            : m_session(std::exchange(other.m_session, nullptr))
        {
        }
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        ~Lease()
        {
            if (m_session)
                m_session->giveBack();
        }

        CorvexDevice& device() const { return *m_session->m_device; }
        CorvexDevice* operator->() const { return m_session->m_device; }
        const std::string& purpose() const { return m_session->m_purpose; }

    private:
        friend class InstrumentSession;
        explicit Lease(InstrumentSession* session)
            : m_session(session)
        {
        }
        InstrumentSession* m_session;
    };

    // The instrument for the operation named by purpose, an activity in the -ing form
    // ("installing firmware"); refused (DeviceErrorKind::Busy, with the holder's
    // purpose) while another lease is out.
    Result<Lease, DeviceError> borrow(std::string purpose)
    {
        if (m_leased) {
            DeviceError error = DeviceError::of(DeviceErrorKind::Busy, "the instrument is busy " + m_purpose);
            error.holder = m_purpose;
            return Failure { std::move(error) };
        }
        m_leased = true;
        m_purpose = std::move(purpose);
        notify(true);
        return Lease(this);
    }

    bool isBusy() const { return m_leased; }
    // What the current lease is for, empty when none is out.
    const std::string& busyWith() const { return m_purpose; }
    // "the instrument is busy installing firmware", for a refusal.
    std::string busyMessage() const { return "the instrument is busy " + m_purpose; }

    // The device without a lease, for what does not touch the line: whether one is
    // connected, its firmware version and model, discovery's arrivals and removals.
    CorvexDevice& device() const { return *m_device; }

    // Called with true when a lease is taken and with false when it is given back.
    // The returned number removes the observer again.
    int addBusyObserver(std::function<void(bool busy)> observer)
    {
        m_observers.emplace(++m_lastObserver, std::move(observer));
        return m_lastObserver;
    }
    void removeBusyObserver(int id) { m_observers.erase(id); }

private:
    void giveBack()
    {
        m_leased = false;
        m_purpose.clear();
        notify(false);
    }
    void notify(bool busy)
    {
        // An observer may add or remove observers (a window opened or closed in answer).
        const auto observers = m_observers;
        for (const auto& [id, observer] : observers)
            if (observer)
                observer(busy);
    }

    CorvexDevice* m_device;
    bool m_leased { false };
    std::string m_purpose;
    std::map<int, std::function<void(bool)>> m_observers;
    int m_lastObserver { 0 };
};

} // namespace corvex
