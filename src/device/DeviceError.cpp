#include "device/DeviceError.h"

#include <cerrno>
#include <cstring>

namespace corvex {

const char* deviceErrorKindName(DeviceErrorKind kind)
{
    switch (kind) {
    case DeviceErrorKind::NoAnswer:
        return "no answer";
    case DeviceErrorKind::ShortAnswer:
        return "short answer";
    case DeviceErrorKind::BadAnswer:
        return "bad answer";
    case DeviceErrorKind::Refused:
        return "refused";
    case DeviceErrorKind::Unplugged:
        return "unplugged";
    case DeviceErrorKind::Cancelled:
        return "cancelled";
    case DeviceErrorKind::PortUnavailable:
        return "port unavailable";
    case DeviceErrorKind::Busy:
        return "busy";
    }
    return "unknown";
}

std::string deviceErrorSummary(const DeviceError& error)
{
    switch (error.kind) {
    case DeviceErrorKind::NoAnswer:
        return "the instrument did not answer";
    case DeviceErrorKind::ShortAnswer:
        return "the instrument's answer broke off";
    case DeviceErrorKind::BadAnswer:
        return "the instrument's answer could not be read";
    case DeviceErrorKind::Refused:
        return error.verdict != 0 ? "the instrument refused the request (its answer: " + std::to_string(error.verdict) + ")"
                                  : "the instrument refused the request";
    case DeviceErrorKind::Unplugged:
        return "the instrument was disconnected";
    case DeviceErrorKind::Cancelled:
        return "cancelled";
    case DeviceErrorKind::PortUnavailable:
        switch (error.systemError) {
        case EACCES:
        case EPERM:
            return "no permission to open the instrument's serial device";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "the instrument's serial device is not there";
        case EBUSY:
        case EAGAIN:
            return error.holder.empty() ? "the instrument is in use by another program"
                                        : "the instrument is in use by " + error.holder;
        default:
            return error.systemError != 0 ? std::string("the instrument's serial device cannot be opened: ") + std::strerror(error.systemError)
                                          : "the instrument's serial device cannot be opened";
        }
    case DeviceErrorKind::Busy:
        return error.holder.empty() ? "the instrument is busy" : "the instrument is busy " + error.holder;
    }
    return "the instrument failed";
}

std::string deviceErrorAdvice(const DeviceError& error)
{
    switch (error.kind) {
    case DeviceErrorKind::NoAnswer:
    case DeviceErrorKind::ShortAnswer:
    case DeviceErrorKind::BadAnswer:
        return "Check the cable and try again; if it keeps failing, disconnect the instrument, switch it off and on, and connect it again.";
    case DeviceErrorKind::Refused:
        return "Make sure the instrument has the latest firmware version.";
    case DeviceErrorKind::Unplugged:
        return "Connect the instrument again and repeat.";
    case DeviceErrorKind::Cancelled:
        return {};
    case DeviceErrorKind::PortUnavailable:
        switch (error.systemError) {
        case EACCES:
        case EPERM:
            return "Install the udev rule from the README (or join the \"dialout\" group and log in again), then connect the instrument again.";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "Connect the instrument again.";
        case EBUSY:
        case EAGAIN:
            return "Close the other program, or wait until it has finished, and try again.";
        default:
            return "Disconnect the instrument and connect it again.";
        }
    case DeviceErrorKind::Busy:
        return "Wait until it has finished, then try again.";
    }
    return {};
}

std::string describeDeviceError(const DeviceError& error)
{
    std::string text = deviceErrorSummary(error);
    const std::string advice = deviceErrorAdvice(error);
    if (!advice.empty())
        text += ". " + advice;
    return text;
}

} // namespace corvex
