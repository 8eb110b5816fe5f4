#pragma once

namespace corvex {

// The choices of the airspaces transfer commands, so that call sites read as what
// they ask for.
enum class AirspacesReadPosition {
    FromBeginning, // operation 0: the first chunk of a read
    Next, // operation 1
};

enum class AirspacesReadScope {
    WholeData, // byte 2 = 1
    MetadataOnly, // byte 2 = 0: just the 2300-byte header
};

enum class AirspacesWritePosition {
    FirstChunk, // operation 2: the instrument starts the set afresh
    NextChunk, // operation 3
};

} // namespace corvex
