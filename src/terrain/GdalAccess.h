#pragma once

#include <string>

// GDAL for the terrain room alone: the drivers registered once, and its messages kept
// from the terminal and handed back as the reason a file did not read.
namespace corvex::terrain::detail {

// Registers GDAL's drivers on the first call; safe from any thread.
void ensureGdal();

// While it lives, GDAL's errors on this thread are kept quiet (GDAL's handlers are
// per thread) and the last one is at hand.
class QuietGdalErrors {
public:
    QuietGdalErrors();
    ~QuietGdalErrors();
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;

    // GDAL's last message on this thread, or `fallback` when it said nothing.
    std::string lastMessage(const std::string& fallback) const;
};

} // namespace corvex::terrain::detail
