#include "export/KmlWriter.h"

#include "base/XmlWriting.h"
#include "platform/LogSink.h"

#include <cmath>

namespace corvex {

namespace {

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
    pugi::xml_document document = xml::documentWithDeclaration();
    pugi::xml_node kml = document.append_child("kml");
    kml.append_attribute("xmlns").set_value("http://www.opengis.net/kml/2.2");
    pugi::xml_node folder = kml.append_child("Document");
    folder.append_child("name").text().set("KmlFile");
    pugi::xml_node style = folder.append_child("Style");
    style.append_attribute("id").set_value("transPurpleLineGreenPoly");
    pugi::xml_node line = style.append_child("LineStyle");
    line.append_child("color").text().set("7fff00ff");
    line.append_child("width").text().set("4");
    style.append_child("PolyStyle").append_child("color").text().set("7f00ff00");
    pugi::xml_node placemark = folder.append_child("Placemark");
    placemark.append_child("name").text().set("Absolute");
    placemark.append_child("visibility").text().set("1");
    placemark.append_child("description").text().set("Transparent purple line");
    placemark.append_child("styleUrl").text().set("#transPurpleLineGreenPoly");
    pugi::xml_node lineString = placemark.append_child("LineString");
    lineString.append_child("tessellate").text().set("1");
    lineString.append_child("altitudeMode").text().set("absolute");
    // One point a line, indented below the element, which closes on a line of its own.
    std::string coordinates = "\n";
    for (const LocationSample& sample : samples) {
        coordinates += formatString("     %09.5f,%0.5f,%05d\n", printedDegrees(sample.longitude), printedDegrees(sample.latitude),
            static_cast<int>(sample.gpsElevation));
    }
    coordinates += "    ";
    lineString.append_child("coordinates").text().set(coordinates.c_str());
    return xml::documentText(document, xml::Layout::Indented);
}

} // namespace corvex
