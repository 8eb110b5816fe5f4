#pragma once

#include "base/Result.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace corvex {

// Why an exchange with the instrument gave nothing. "The instrument holds none" is
// never one of these: an empty list, a log book without flights or a blank pilot
// record is a value, and only an answer the instrument really gave can say so.
enum class DeviceErrorKind {
    NoAnswer, // silent where an answer was due
    ShortAnswer, // an answer that stopped before its announced end
    BadAnswer, // an answer of the wrong kind or that does not decode
    Refused, // the instrument answered and said no (a firmware line's verdict, an error status)
    Unplugged, // the line hung up, or no instrument is connected any more
    Cancelled, // the user stopped the operation
    PortUnavailable, // the serial device could not be opened
    Busy, // another operation holds the instrument
};

struct DeviceError {
    DeviceErrorKind kind { DeviceErrorKind::NoAnswer };
    // What went wrong, for the log and the technical line of a message.
    std::string detail;
    // PortUnavailable: the errno of the open or of the lock.
    int systemError { 0 };
    // PortUnavailable or Busy: who holds the instrument, when that can be found out
    // ("corvex-vario (process 4711)", "installing firmware").
    std::string holder;
    // Refused: the instrument's own verdict, when it gave one.
    int verdict { 0 };

    static DeviceError of(DeviceErrorKind kind, std::string detail = {})
    {
        DeviceError error;
        error.kind = kind;
        error.detail = std::move(detail);
        return error;
    }
};

template<typename T>
using DeviceResult = Result<T, DeviceError>;

inline Failure<DeviceError> deviceFailure(DeviceErrorKind kind, std::string detail = {})
{
    return Failure { DeviceError::of(kind, std::move(detail)) };
}

// The one reading of a failure for people, shared by the windows and `corvex`: what
// happened, in a sentence without a full stop ("the instrument did not answer"), and
// what to do about it, a whole sentence or nothing.
std::string deviceErrorSummary(const DeviceError& error);
std::string deviceErrorAdvice(const DeviceError& error);
// Both, as one line for a terminal or an alert's informative text.
std::string describeDeviceError(const DeviceError& error);

// Whether asking again may help: an answer that broke off, never came, or began with
// something else (the late end of the answer before it, after a stall of the line),
// not one the instrument refused nor a line that failed.
inline bool isWorthAnotherTry(const DeviceError& error)
{
    return error.kind == DeviceErrorKind::ShortAnswer || error.kind == DeviceErrorKind::NoAnswer
        || error.kind == DeviceErrorKind::BadAnswer;
}

// The name of a kind for log lines and test messages.
const char* deviceErrorKindName(DeviceErrorKind kind);

} // namespace corvex
