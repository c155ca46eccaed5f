// The example flood case: a small river valley meshed as a 20 x 15 grid of nodes, and two runs
// of a flood wave passing through it ("base", and "design" with a widened upstream channel
// that lowers the upstream levels and raises the downstream ones). Standard library only, so
// that the generator builds on its own.
//
// Every quantity is computed in double precision and rounded to whole millimetres (or mm/s)
// before it is stored; the files therefore come out byte for byte the same on any machine,
// whatever the last bit of its exp() or sin().
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace flood_example {

constexpr int kColumns = 20;  // nodes along the valley (x, downstream)
constexpr int kRows = 15;     // nodes across the valley (y)
constexpr double kDx = 50.0;  // metres between cross-sections
constexpr double kDy = 20.0;  // metres between nodes of a cross-section
constexpr double kPi = 3.14159265358979323846;
// A node counts as wet above this depth (mm); a cell is wet when all its corners are.
constexpr std::int64_t kWetDepthMm = 10;
// Output times: hourly 0..12, then the step of the maxima that flood models append.
constexpr int kLastHour = 12;
constexpr float kMaximumTime = 99999.0f;

inline int nodeNumber(int column, int row) { return column * kRows + row + 1; }

struct Valley {
    std::vector<std::int64_t> groundMm;          // per node
    std::vector<double> x, y;                    // per node, local metres
    std::vector<std::array<int, 4>> cellCorners;  // node numbers counter-clockwise; 4th 0 = triangle
    std::vector<int> material;                   // 1 channel, 2 floodplain
};

// Centre line of the meandering channel, and its direction.
inline double channelCentre(double x) { return 140.0 + 20.0 * std::sin(2.0 * kPi * x / 950.0); }
inline double channelSlope(double x) {
    return 20.0 * 2.0 * kPi / 950.0 * std::cos(2.0 * kPi * x / 950.0);
}
// How far the channel is cut below the floodplain at distance d from its centre line.
inline double channelCut(double d) { return 2.0 * std::max(0.0, 1.0 - (d / 45.0) * (d / 45.0)); }

inline std::int64_t toMm(double metres) { return std::llround(metres * 1000.0); }

inline Valley buildValley() {
    Valley v;
    for (int i = 0; i < kColumns; ++i) {
        for (int j = 0; j < kRows; ++j) {
            double x = i * kDx, y = j * kDy;
            double d = std::abs(y - channelCentre(x));
            // Floodplain falling 2 m per km downstream and rising towards the valley sides.
            double floodplain = 25.0 - 0.002 * x + 0.0001 * d * d;
            v.groundMm.push_back(toMm(floodplain - channelCut(d)));
            v.x.push_back(x);
            v.y.push_back(y);
        }
    }
    for (int i = 0; i + 1 < kColumns; ++i) {
        for (int j = 0; j + 1 < kRows; ++j) {
            int a = nodeNumber(i, j), b = nodeNumber(i + 1, j);
            int c = nodeNumber(i + 1, j + 1), e = nodeNumber(i, j + 1);
            double centreDistance =
                std::abs((j + 0.5) * kDy - channelCentre((i + 0.5) * kDx));
            int mat = centreDistance < 30.0 ? 1 : 2;
            if (i == 0 || i + 2 == kColumns) {
                // Quadrilaterals at the inflow and outflow boundaries.
                v.cellCorners.push_back({a, b, c, e});
                v.material.push_back(mat);
            } else if ((i + j) % 2 == 0) {
                v.cellCorners.push_back({a, b, c, 0});
                v.cellCorners.push_back({a, c, e, 0});
                v.material.insert(v.material.end(), 2, mat);
            } else {
                v.cellCorners.push_back({a, b, e, 0});
                v.cellCorners.push_back({b, c, e, 0});
                v.material.insert(v.material.end(), 2, mat);
            }
        }
    }
    return v;
}

// One run: a flood wave that rises riseUpstream metres above base flow at the upstream end and
// riseDownstream at the downstream end, peaking peakHour hours after it enters the reach.
struct Scenario {
    const char* name;
    double riseUpstream;
    double riseDownstream;
    double peakHour;
};

// The design run widens the upstream channel: lower levels there, but the wave reaches the
// downstream end sooner and higher.
inline const std::array<Scenario, 2>& scenarios() {
    static const std::array<Scenario, 2> list{
        {{"base", 2.6, 2.1, 4.5}, {"design", 1.9, 2.8, 4.0}}};
    return list;
}

// Wave shape 0..1, rising to 1 at the peak and receding after it.
inline double waveShape(double tau, double peakHour) {
    if (tau <= 0.0) return 0.0;
    double r = tau / peakHour;
    return r * r * r * std::exp(3.0 * (1.0 - r));
}

// One output step of a run, per node (mm, mm/s) and per cell (flag).
struct Step {
    float time = 0.0f;
    std::vector<std::int64_t> levelMm, depthMm, vxMm, vyMm;
    std::vector<std::int8_t> wet;
};

inline std::vector<std::int8_t> wetCells(const Valley& v, const std::vector<std::int64_t>& depthMm) {
    std::vector<std::int8_t> wet;
    for (const auto& corners : v.cellCorners) {
        bool all = true;
        for (int n : corners)
            if (n > 0 && depthMm[n - 1] <= kWetDepthMm) all = false;
        wet.push_back(all ? 1 : 0);
    }
    return wet;
}

inline Step computeStep(const Valley& v, const Scenario& s, int hour) {
    Step st;
    st.time = static_cast<float>(hour);
    for (std::size_t n = 0; n < v.groundMm.size(); ++n) {
        double x = v.x[n], y = v.y[n];
        // The wave travels at 0.8 km/h.
        double tau = hour - x / 800.0;
        double reach = x / ((kColumns - 1) * kDx);
        double rise = (s.riseUpstream + (s.riseDownstream - s.riseUpstream) * reach) *
                      waveShape(tau, s.peakHour);
        // Level flat across the valley: channel bed + 1 m of base flow + the wave.
        double level = 23.0 - 0.002 * x + 1.0 + rise;
        std::int64_t ground = v.groundMm[n];
        std::int64_t levelMm = std::max(toMm(level), ground);  // dry nodes: level = ground
        std::int64_t depthMm = levelMm - ground;
        std::int64_t vx = 0, vy = 0;
        if (depthMm > kWetDepthMm) {
            double depth = depthMm / 1000.0;
            double offset = y - channelCentre(x);
            double manningN = 0.06 - 0.0125 * channelCut(std::abs(offset));
            double speed = std::pow(depth, 2.0 / 3.0) * std::sqrt(0.0012) / manningN;
            double len = std::hypot(1.0, channelSlope(x));
            double ux = 1.0 / len, uy = channelSlope(x) / len;
            // Water spreads out of the channel while the wave rises and drains back after it.
            double trend = tau <= 0.0 ? 0.0 : (tau < s.peakHour ? 1.0 : -1.0);
            double lateral = 0.25 * speed * std::clamp(offset / 140.0, -1.0, 1.0) * trend;
            vx = toMm(speed * ux - lateral * uy);
            vy = toMm(speed * uy + lateral * ux);
        }
        st.levelMm.push_back(levelMm);
        st.depthMm.push_back(depthMm);
        st.vxMm.push_back(vx);
        st.vyMm.push_back(vy);
    }
    st.wet = wetCells(v, st.depthMm);
    return st;
}

// The step of the maxima: highest level and depth of each node, and its fastest velocity.
inline Step maximumStep(const Valley& v, const std::vector<Step>& steps) {
    Step m = steps.front();
    m.time = kMaximumTime;
    for (const Step& st : steps) {
        for (std::size_t n = 0; n < m.levelMm.size(); ++n) {
            m.levelMm[n] = std::max(m.levelMm[n], st.levelMm[n]);
            m.depthMm[n] = std::max(m.depthMm[n], st.depthMm[n]);
            if (st.vxMm[n] * st.vxMm[n] + st.vyMm[n] * st.vyMm[n] >
                m.vxMm[n] * m.vxMm[n] + m.vyMm[n] * m.vyMm[n]) {
                m.vxMm[n] = st.vxMm[n];
                m.vyMm[n] = st.vyMm[n];
            }
        }
    }
    m.wet = wetCells(v, m.depthMm);
    return m;
}

// --- the binary dataset (little-endian, whatever the host) -------------------------------

inline void putInt(std::string& out, std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
}

inline void putFloat(std::string& out, float value) {
    std::uint32_t u;
    std::memcpy(&u, &value, 4);
    putInt(out, static_cast<std::int32_t>(u));
}

inline float mmToFloat(std::int64_t mm) { return static_cast<float>(mm) / 1000.0f; }

enum class Quantity { Level, Depth, Velocity };

inline std::string datasetBytes(const Valley& v, const std::vector<Step>& steps, Quantity q) {
    const auto nodes = static_cast<std::int32_t>(v.groundMm.size());
    const auto cells = static_cast<std::int32_t>(v.cellCorners.size());
    std::string out;
    putInt(out, 3000);
    putInt(out, 100);
    putInt(out, 3);
    putInt(out, 110);
    putInt(out, 4);
    putInt(out, 120);
    putInt(out, 1);
    putInt(out, q == Quantity::Velocity ? 140 : 130);
    putInt(out, 170);
    putInt(out, nodes);
    putInt(out, 180);
    putInt(out, cells);
    putInt(out, 190);
    std::string name = q == Quantity::Level ? "Water Level" : q == Quantity::Depth ? "Depth" : "Velocity";
    name.resize(40, ' ');
    out += name;
    for (const Step& st : steps) {
        putInt(out, 200);
        out.push_back(1);
        putFloat(out, st.time);
        for (std::int8_t flag : st.wet) out.push_back(static_cast<char>(flag));
        for (std::int32_t n = 0; n < nodes; ++n) {
            if (q == Quantity::Level) putFloat(out, mmToFloat(st.levelMm[n]));
            if (q == Quantity::Depth) putFloat(out, mmToFloat(st.depthMm[n]));
            if (q == Quantity::Velocity) {
                putFloat(out, mmToFloat(st.vxMm[n]));
                putFloat(out, mmToFloat(st.vyMm[n]));
            }
        }
    }
    putInt(out, 210);
    return out;
}

// --- the text mesh ----------------------------------------------------------------------

// Millimetres as metres with three decimals, exactly ("-0.250", "24.013").
inline std::string metres(std::int64_t mm) {
    std::string sign = mm < 0 ? "-" : "";
    std::int64_t a = mm < 0 ? -mm : mm;
    std::string frac = std::to_string(a % 1000);
    return sign + std::to_string(a / 1000) + "." + std::string(3 - frac.size(), '0') + frac;
}

inline std::string meshText(const Valley& v) {
    // Local coordinates placed at a plausible projected origin.
    const std::int64_t originX = 412000000, originY = 5795000000;  // mm
    std::string out = "MESH2D\nMESHNAME \"kelvara example valley\"\n";
    for (std::size_t c = 0; c < v.cellCorners.size(); ++c) {
        const auto& k = v.cellCorners[c];
        std::string line = k[3] > 0 ? "E4Q " : "E3T ";
        line += std::to_string(c + 1);
        for (int n : k)
            if (n > 0) line += " " + std::to_string(n);
        out += line + " " + std::to_string(v.material[c]) + "\n";
    }
    for (std::size_t n = 0; n < v.groundMm.size(); ++n) {
        out += "ND " + std::to_string(n + 1) + " " + metres(originX + toMm(v.x[n])) + " " +
               metres(originY + toMm(v.y[n])) + " " + metres(v.groundMm[n]) + "\n";
    }
    return out;
}

// --- the whole case ---------------------------------------------------------------------

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The coordinate reference of the valley's coordinates (metres east and north in ETRS89 / UTM
// zone 32N), as the .prj beside each mesh, so that grids, polygons and NetCDF files of the
// example land where they belong on a map.
inline const char* referenceText() {
    return "PROJCS[\"ETRS_1989_UTM_Zone_32N\",GEOGCS[\"GCS_ETRS_1989\",DATUM[\"D_ETRS_1989\","
           "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],"
           "UNIT[\"Degree\",0.0174532925199433]],PROJECTION[\"Transverse_Mercator\"],"
           "PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
           "PARAMETER[\"Central_Meridian\",9.0],PARAMETER[\"Scale_Factor\",0.9996],"
           "PARAMETER[\"Latitude_Of_Origin\",0.0],UNIT[\"Meter\",1.0]]";
}

// Writes flood.2dm, and for each run <run>.2dm, <run>.prj, <run>_h.dat, <run>_d.dat and
// <run>_V.dat into folder (created when missing). Returns the names written, in order.
inline std::vector<std::string> writeFloodCase(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const Valley v = buildValley();
    const std::string mesh = meshText(v);
    std::vector<std::string> written;
    auto emit = [&](const std::string& name, const std::string& bytes) {
        writeFile(folder / name, bytes);
        written.push_back(name);
    };
    emit("flood.2dm", mesh);
    for (const Scenario& s : scenarios()) {
        std::vector<Step> steps;
        for (int hour = 0; hour <= kLastHour; ++hour) steps.push_back(computeStep(v, s, hour));
        steps.push_back(maximumStep(v, steps));
        const std::string run = s.name;
        // Each run's datasets find their mesh by their stem: base_d.dat -> base.2dm.
        emit(run + ".2dm", mesh);
        emit(run + ".prj", referenceText());
        emit(run + "_h.dat", datasetBytes(v, steps, Quantity::Level));
        emit(run + "_d.dat", datasetBytes(v, steps, Quantity::Depth));
        emit(run + "_V.dat", datasetBytes(v, steps, Quantity::Velocity));
    }
    return written;
}

}  // namespace flood_example
