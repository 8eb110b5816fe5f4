#pragma once

#include "airspaces/Airspaces.h"
#include "base/Bytes.h"
#include "base/Result.h"
#include "device/DeviceError.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The airspaces transfers with the instrument without their windows: the upload
// (check the bytes, erase the set the instrument holds, write 121-byte chunks,
// conclude), the whole read and the clearing. The command line calls them directly;
// the airspaces window puts its sheets and progress bar around the same calls.
namespace corvex {

class CorvexDevice;

// Views into the bytes, in order, each at most chunkSize long (chunkSize > 0). At
// least one: empty bytes give one empty chunk. The bytes must outlive the views.
std::vector<ByteView> splitDataIntoChunksWithoutCopying(ByteView bytes, std::size_t chunkSize);

enum class AirspacesTransferError {
    NotASet, // the bytes to upload are not a set in the instrument's format
    ReadFailed, // the instrument did not send its set
    EraseFailed, // the instrument did not confirm the erase
    ChunkRefused, // the instrument did not take a chunk; nothing was concluded
    Cancelled, // stopped between two chunks; nothing was concluded
    ConcludeFailed, // the instrument did not confirm the end of the upload
};

struct AirspacesTransferFailure {
    AirspacesTransferError reason;
    // ChunkRefused and Cancelled: the chunk (counted from 1) that was not written, of how many.
    std::size_t chunk { 0 };
    std::size_t chunkCount { 0 };
    // What the instrument did, when it caused the failure (no answer, unplugged, ...).
    std::optional<DeviceError> device {};
};

// What a window hooks into a transfer; every member may be empty.
struct AirspacesTransferObserver {
    // The erase's fake progress, 0 up to below 1, while the instrument erases.
    std::function<void(float fraction)> eraseProgress;
    // After chunk n (counted from 1) of count was taken. Called on the main thread in
    // the middle of the transfer: the place to move a bar and turn the event loop.
    std::function<void(std::size_t n, std::size_t count)> chunkWritten;
    // Asked before each chunk; true stops the upload without concluding it.
    std::function<bool()> isCancelled;
};

struct AirspacesUpload {
    Airspaces set; // the uploaded bytes, parsed
    std::size_t byteCount { 0 };
    std::size_t chunkCount { 0 };
    bool erasedFirst { false }; // the instrument held a set, which was erased first
};

class AirspacesTransferService {
public:
    explicit AirspacesTransferService(CorvexDevice& device);

    // Refuses bytes that are not a set before anything is erased, erases when the
    // instrument holds a set, then writes the chunks and concludes.
    Result<AirspacesUpload, AirspacesTransferFailure> upload(
        std::shared_ptr<const Bytes> data, const AirspacesTransferObserver& observer = {});

    // The instrument's whole set as it sends it; empty when it holds none.
    // The progress, when asked for, is the bytes read so far after each chunk (the
    // instrument does not say how many follow).
    Result<Bytes, AirspacesTransferFailure> readWholeSet(const std::function<void(std::size_t bytesRead)>& chunkRead = {});

    // Erases the instrument's set, reporting the erase's fake progress (about 21 s).
    Result<void, AirspacesTransferFailure> clear(const std::function<void(float fraction)>& progress = {});

    // True when the instrument's header read gives a whole header, false when it
    // gives none, or why the read failed.
    DeviceResult<bool> instrumentHoldsASet();

private:
    CorvexDevice& m_device;
};

} // namespace corvex
