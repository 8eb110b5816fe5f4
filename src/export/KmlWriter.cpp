#include "export/KmlWriter.h"

#include "platform/LogSink.h"

#include <cmath>

namespace corvex {

namespace {

constexpr const char* kmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                                "<Document>\n"
                                " <name>KmlFile</name>\n"
                                " <Style id=\"transPurpleLineGreenPoly\">\n"
                                "  <LineStyle>\n"
                                "   <color>7fff00ff</color>\n"
                                "   <width>4</width>\n"
                                "  </LineStyle>\n"
                                "  <PolyStyle>\n"
                                "   <color>7f00ff00</color>\n"
                                "  </PolyStyle>\n"
                                " </Style>\n"
                                " <Placemark>\n"
                                "  <name>Absolute</name>\n"
                                "  <visibility>1</visibility>\n"
                                "  <description>Transparent purple line</description>\n"
                                "  <styleUrl>#transPurpleLineGreenPoly</styleUrl>\n"
                                "  <LineString>\n"
                                "   <tessellate>1</tessellate>\n"
                                "   <altitudeMode>absolute</altitudeMode>\n"
                                "   <coordinates>\n";

constexpr const char* kmlTail = "   </coordinates>\n"
                                "  </LineString>\n"
                                " </Placemark>\n"
                                " </Document>\n"
                                "</kml>\n";

double printedDegrees(double degrees)
{
    // Through an integer, so that a value cut to zero prints without a minus sign.
    return static_cast<double>(hundredThousandthsTowardZero(degrees)) / 100000.0;
}

} // namespace

long long hundredThousandthsTowardZero(double degrees)
{
    if (!std::isfinite(degrees))
        return 0;
    const double scaled = degrees * 100000.0;
    const double nearest = std::nearbyint(scaled);
    // A value meant as a whole number of hundred-thousandths lands within a few units
    // of the last place of it once scaled; a real sixth decimal is far larger than this.
    if (std::fabs(scaled - nearest) < 1e-6)
        return static_cast<long long>(nearest);
    return static_cast<long long>(std::trunc(scaled));
}

std::string generateKmlFileForSamples(
    const std::vector<LocationSample>& samples, const PilotData&, const HRecord&, const GRecord&)
{
    std::string kml = kmlHead;
    for (const LocationSample& sample : samples) {
        kml += formatString("    %09.5f,%0.5f,%05d\n", printedDegrees(sample.longitude), printedDegrees(sample.latitude),
            static_cast<int>(sample.gpsElevation));
    }
    kml += kmlTail;
    return kml;
}

} // namespace corvex
