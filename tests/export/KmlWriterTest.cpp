// The KML writer against a document written out by hand.
#include "export/KmlWriter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvex;

namespace {

LocationSample point(double longitude, double latitude, std::int16_t gps)
{
    LocationSample s;
    s.longitude = longitude;
    s.latitude = latitude;
    s.gpsElevation = gps;
    s.barometerElevation = 999; // never printed
    return s;
}

const char* const head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                         " <Document>\n"
                         "  <name>KmlFile</name>\n"
                         "  <Style id=\"transPurpleLineGreenPoly\">\n"
                         "   <LineStyle>\n"
                         "    <color>7fff00ff</color>\n"
                         "    <width>4</width>\n"
                         "   </LineStyle>\n"
                         "   <PolyStyle>\n"
                         "    <color>7f00ff00</color>\n"
                         "   </PolyStyle>\n"
                         "  </Style>\n"
                         "  <Placemark>\n"
                         "   <name>Absolute</name>\n"
                         "   <visibility>1</visibility>\n"
                         "   <description>Transparent purple line</description>\n"
                         "   <styleUrl>#transPurpleLineGreenPoly</styleUrl>\n"
                         "   <LineString>\n"
                         "    <tessellate>1</tessellate>\n"
                         "    <altitudeMode>absolute</altitudeMode>\n"
                         "    <coordinates>\n";

const char* const tail = "    </coordinates>\n"
                         "   </LineString>\n"
                         "  </Placemark>\n"
                         " </Document>\n"
                         "</kml>\n";

} // namespace

TEST(KmlWriter, EmptyTrackIsHeadAndTail)
{
    EXPECT_EQ(generateKmlFileForSamples({}, PilotData {}, HRecord {}, GRecord {}), std::string(head) + tail);
}

TEST(KmlWriter, CoordinatesAreCutTowardZeroAndWholeValuesStay)
{
    const std::vector<LocationSample> track {
        point(6.123456789, -45.999999, 0),
        point(7.0, 46.12345, -12),
        point(-6.123456789, 0.0, 1234),
        point(123.456789, -0.000001, 32767),
        point(-179.99999, 89.99999, -32768),
        point(0.1 + 0.2, 8.2, 5),
    };
    const std::string expected = std::string(head)
        + "     006.12345,-45.99999,00000\n"
          "     007.00000,46.12345,-0012\n"
          "     -06.12345,0.00000,01234\n"
          "     123.45678,0.00000,32767\n"
          "     -179.99999,89.99999,-32768\n"
          "     000.30000,8.20000,00005\n"
        + tail;
    EXPECT_EQ(generateKmlFileForSamples(track, PilotData {}, HRecord {}, GRecord {}), expected);
}

TEST(KmlWriter, CutNeverRoundsUpOverManyValues)
{
    // Every value with a sixth decimal must print as its first five, whatever its binary
    // form; every value of five decimals must print as itself.
    for (long long k = -18000000; k <= 18000000; k += 99991) {
        const double whole = static_cast<double>(k) / 100000.0;
        EXPECT_EQ(hundredThousandthsTowardZero(whole), k) << whole;
        const double above = (static_cast<double>(k) + (k < 0 ? -0.7 : 0.7)) / 100000.0;
        EXPECT_EQ(hundredThousandthsTowardZero(above), k) << above;
        const double justBelowNext = (static_cast<double>(k) + (k < 0 ? -0.99 : 0.99)) / 100000.0;
        EXPECT_EQ(hundredThousandthsTowardZero(justBelowNext), k) << justBelowNext;
    }
    EXPECT_EQ(hundredThousandthsTowardZero(std::nan("")), 0);
}
