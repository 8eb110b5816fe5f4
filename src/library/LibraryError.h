#pragma once

#include "base/Result.h"

#include <string>

namespace corvex::library {

// Why a call of the library gave nothing. "No rows" is never one of these: an empty
// list, a count of 0 or a flight not found is what the index really holds.
enum class LibraryErrorKind {
    // The index file is not a database, fails its integrity check, or was written by a
    // newer program: it is set aside and made again from the IGC files.
    Damaged,
    // The index cannot be opened, created or brought up to date (permissions, a full
    // disk, a schema that lost a table): nothing to rebuild into.
    Unusable,
    NotFound, // the flight, file or record asked for is not there
    Io, // reading or writing a file or the index failed
    Busy, // another connection held the index's write lock past the wait
};

struct LibraryError {
    LibraryErrorKind kind { LibraryErrorKind::Io };
    std::string message; // what went wrong, for the log and the user

    static LibraryError of(LibraryErrorKind kind, std::string message)
    {
        return LibraryError { kind, std::move(message) };
    }
};

template<typename T>
using LibraryResult = Result<T, LibraryError>;

inline Failure<LibraryError> libraryFailure(LibraryErrorKind kind, std::string message)
{
    return Failure { LibraryError::of(kind, std::move(message)) };
}

// The name of a kind for log lines and test messages.
const char* libraryErrorKindName(LibraryErrorKind kind);

} // namespace corvex::library
