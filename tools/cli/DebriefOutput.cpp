#include "DebriefOutput.h"

#include "base/Format.h"
#include "library/TakeoffTime.h"

#include <cstdio>

namespace corvex::cli {

std::string clockText(std::int64_t utc, const DebriefText& choice)
{
    const std::string iso = choice.offsetMinutes ? library::localIsoTime(utc, choice.offsetMinutes) : isoTime(utc);
    return iso.size() >= 19 ? iso.substr(11, 8) : iso;
}

std::string durationText(std::int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string percent(double share) { return fixed(share * 100, 0) + " %"; }

std::string clockName(const DebriefText& choice)
{
    return choice.offsetMinutes ? "local (" + utcOffsetText(*choice.offsetMinutes) + ")" : std::string("UTC");
}

Json totalsJson(const analysis::DebriefTotals& totals)
{
    return Json { { "circling_share", rounded(totals.circlingShare, 3) }, { "left_share", rounded(totals.leftShare, 3) },
        { "thermals", totals.thermals }, { "failed_attempts", totals.failedAttempts }, { "avg_climb_ms", rounded(totals.avgClimbMs, 2) },
        { "height_gained_m", rounded(totals.heightGainedMetres, 0) }, { "avg_glide_speed_kmh", rounded(totals.avgGlideSpeedKmh, 1) },
        { "avg_glide_ratio", totals.avgGlideRatio ? rounded(*totals.avgGlideRatio, 1) : Json(nullptr) },
        { "circling_height_loss_share", rounded(totals.circlingHeightLossShare, 3) } };
}

} // namespace corvex::cli
