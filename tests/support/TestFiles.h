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
// little every second: the XContest search works on it to its work limit, seconds long.
// At a walker's pace it is a recorder on the ground. One fix a second from 08:00 UTC.
inline std::string wanderingFlightIgc(int hours, const std::string& logger, unsigned seed = 1, double metresPerSecond = 15)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> turn(-0.35, 0.35);
    double north = 1500, east = 1500, heading = 0.7;
    std::string text = "A" + logger + "\nHFDTE020824\n";
    for (int second = 0; second < hours * 3600; ++second) {
        heading += turn(random) + ((north <= 0 || north >= 3000 || east <= 0 || east >= 3000) ? 3.14159 : 0);
        north = std::clamp(north + metresPerSecond * std::cos(heading), 0.0, 3000.0);
        east = std::clamp(east + metresPerSecond * std::sin(heading), 0.0, 3000.0);
        const long latitude = std::lround((46.0 + north / 111195.0) * 60000), longitude = std::lround((7.0 + east / 77242.0) * 60000);
        const int altitude = 1500 + static_cast<int>(std::lround(27 * metresPerSecond * std::sin(second / 700.0)));
        char line[128];
        std::snprintf(line, sizeof line, "B%02d%02d%02d%02ld%05ldN%03ld%05ldEA%05d%05d\n", 8 + second / 3600, second / 60 % 60,
            second % 60, latitude / 60000, latitude % 60000, longitude / 60000, longitude % 60000, altitude, altitude + 40);
        text += line;
    }
    return text;
}

} // namespace corvex::testing
