#include "terrain/GdalAccess.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>

#include <mutex>

namespace corvex::terrain::detail {

void ensureGdal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // A tile is opened by its own name only: listing its folder for side files on
        // every open would cost a scan of thousands of tiles dearly.
        CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR");
        // Nothing of ours is ever written beside a tile.
        CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
        GDALAllRegister();
    });
}

QuietGdalErrors::QuietGdalErrors()
{
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
}

QuietGdalErrors::~QuietGdalErrors() { CPLPopErrorHandler(); }

std::string QuietGdalErrors::lastMessage(const std::string& fallback) const
{
    const char* message = CPLGetLastErrorMsg();
    return message && *message ? std::string(message) : fallback;
}

} // namespace corvex::terrain::detail
