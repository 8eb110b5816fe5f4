#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace corvex::testing {

// A whole file's bytes as a string; empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// A file of the shared test data written by others, e.g. "openair/france.txt".
inline std::string readTestFile(const std::string& relativePath)
{
    return readFile(std::string(CORVEX_TESTDATA_DIR) + "/" + relativePath);
}

// An IGC file of a long flight that wanders at 15 m/s inside a 3 km square, turning a
// little every second: the XContest search works on it to its work limit, seconds long,
// for a test to interrupt. One fix a second from 08:00 UTC on 2 August 2024; `logger`
// and `seed` tell copies apart.
inline std::string wanderingFlightIgc(int hours, const std::string& logger, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> turn(-0.35, 0.35);
    constexpr double metresPerDegree = 111195.0;
    const double metresPerDegreeEast = metresPerDegree * std::cos(46.0 * 3.14159265358979 / 180);
    double north = 1500, east = 1500, heading = 0.7;
    std::string text = "A" + logger + "\nHFDTE020824\nHFPLTPILOT:Wanda\nHFGTYGLIDERTYPE:Test\n";
    for (int second = 0; second < hours * 3600; ++second) {
        heading += turn(random);
        north += 15 * std::cos(heading);
        east += 15 * std::sin(heading);
        if (north < 0 || north > 3000 || east < 0 || east > 3000) {
            heading += 3.14159265358979;
            north = std::clamp(north, 0.0, 3000.0);
            east = std::clamp(east, 0.0, 3000.0);
        }
        const int latitude = static_cast<int>(std::lround((46.0 + north / metresPerDegree) * 60000));
        const int longitude = static_cast<int>(std::lround((7.0 + east / metresPerDegreeEast) * 60000));
        const int altitude = 1500 + static_cast<int>(std::lround(400 * std::sin(second / 700.0)));
        char line[64];
        std::snprintf(line, sizeof line, "B%02d%02d%02d%02d%05dN%03d%05dEA%05d%05d\n", 8 + second / 3600, second / 60 % 60,
            second % 60, latitude / 60000, latitude % 60000, longitude / 60000, longitude % 60000, altitude, altitude + 40);
        text += line;
    }
    return text;
}

} // namespace corvex::testing
