#include "base/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

namespace {

const char* whatItIs(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a folder, not a file";
    if (S_ISFIFO(mode))
        return "it is a named pipe, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a file";
    return "it is not a regular file";
}

std::string mebibytes(std::uintmax_t bytes)
{
    // Whole MiB where the number is one, else bytes: a limit of 100 bytes in a test
    // must not read as "0 MiB".
    if (bytes >= (std::uintmax_t { 1 } << 20))
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

Result<std::string, FileReadError> readWhole(const std::string& path, std::size_t largest, const char* purpose)
{
    FileReadError error;
    error.path = path;
    error.limit = largest;
    error.purpose = purpose;
    const auto fail = [&](FileReadError::Kind kind, std::string detail) {
        error.kind = kind;
        error.detail = std::move(detail);
        return Failure { error };
    };
    const auto failWithErrno = [&](int code) {
        return fail(code == ENOENT || code == ENOTDIR ? FileReadError::Kind::Missing : FileReadError::Kind::Unreadable,
            std::strerror(code));
    };

    // stat before open: opening a FIFO for reading waits for a writer.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return failWithErrno(errno);
    if (!S_ISREG(status.st_mode))
        return fail(FileReadError::Kind::NotRegularFile, whatItIs(status.st_mode));
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return failWithErrno(errno);
    // The name may have been replaced between the two looks: what counts is what is open.
    if (::fstat(descriptor, &status) != 0) {
        const int code = errno;
        ::close(descriptor);
        return fail(FileReadError::Kind::Unreadable, std::strerror(code));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return fail(FileReadError::Kind::NotRegularFile, whatItIs(status.st_mode));
    }
    const auto announced = static_cast<std::uintmax_t>(status.st_size);
    if (announced > largest) {
        ::close(descriptor);
        error.size = announced;
        return fail(FileReadError::Kind::TooLarge, {});
    }

    // Read to the end whatever stat said, but never past limit + 1 bytes.
    std::string text(static_cast<std::size_t>(announced) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            if (done > largest)
                break;
            text.resize(std::min(largest + 1, std::max<std::size_t>(text.size() * 2, 64 * 1024)));
        }
        const ssize_t got = ::read(descriptor, text.data() + done, text.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            ::close(descriptor);
            return fail(FileReadError::Kind::Unreadable, std::strerror(code));
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    if (done > largest) // it grew while it was read: its size is not known
        return fail(FileReadError::Kind::TooLarge, {});
    text.resize(done);
    return text;
}

} // namespace

const char* fileKindName(FileKind kind)
{
    switch (kind) {
    case FileKind::IgcFlight:
        return "an IGC flight file";
    case FileKind::OpenAir:
        return "an OpenAir file";
    case FileKind::AirspaceSet:
        return "an airspaces set";
    case FileKind::Firmware:
        return "a firmware file";
    case FileKind::Feed:
        return "a JSON or XML document";
    case FileKind::UpdateArchive:
        return "a program package";
    case FileKind::InstrumentState:
        return "an instrument's memory";
    }
    return "this";
}

std::string FileReadError::reason() const
{
    switch (kind) {
    case Kind::Missing:
        return "no such file";
    case Kind::NotRegularFile:
    case Kind::Unreadable:
        return detail;
    case Kind::TooLarge:
        return "it is " + (size > 0 ? mebibytes(size) : "more than " + mebibytes(limit)) + ", too large for "
            + (*purpose ? std::string(purpose) : std::string("this")) + " (at most " + mebibytes(limit) + ")";
    }
    return detail;
}

std::string FileReadError::message() const
{
    if (kind == Kind::TooLarge)
        return path + " " + reason().substr(3); // "PATH is 200 MiB, too large for ..."
    return "cannot read " + path + ": " + reason();
}

Result<std::string, FileReadError> readFileWhole(const std::string& path, FileKind purpose)
{
    return readWhole(path, largestFileBytes(purpose), fileKindName(purpose));
}

Result<std::string, FileReadError> readFileWhole(const std::string& path, std::size_t largestBytes)
{
    return readWhole(path, largestBytes, "");
}

} // namespace corvex
