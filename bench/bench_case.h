// A synthetic flood case of any size for the benchmarks: the river valley of the example case
// (examples/flood_case.h) stretched to 10 km by 1 km and meshed as a grid of about the requested
// number of nodes, with two runs of a flood wave ("base", and "design" with a widened upstream
// channel). The physical extent is the same at every size, so the share of wet nodes and cells
// does not depend on how fine the mesh is.
//
// Written for speed at millions of nodes: whatever depends only on the position along the
// valley is computed once per column and step, whatever depends only on the node once per node,
// the depth-to-speed law comes from a table indexed by whole millimetres, each step of each
// dataset is built in one buffer and written with one fwrite, the mesh text is formatted with
// std::to_chars into one buffer, and the two runs are computed on two threads. Values are
// rounded to whole millimetres (or mm/s) before they are stored, as in the example case.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench_case {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLength = 10000.0;  // metres along the valley (x)
constexpr double kWidth = 1000.0;    // metres across it (y)
constexpr double kWaveSpeed = 500.0;  // metres per hour
constexpr double kBedSlope = 0.001;
constexpr std::int32_t kWetDepthMm = 10;  // a node is wet above this depth
constexpr float kMaximumTime = 99999.0f;

struct Settings {
    std::int64_t nodes = 1000000;  // requested; the grid comes as close as it can
    int steps = 100;               // hourly steps 0, 1, ..., steps - 1
    bool maximumStep = true;       // a step of the maxima at 99999 after them
    std::string datasets = "hdV";  // which of _h, _d and _V to write
};

// --- geometry ---------------------------------------------------------------------------

inline double channelCentre(double x) { return 500.0 + 150.0 * std::sin(2.0 * kPi * x / 2500.0); }
inline double channelSlope(double x) {
    return 150.0 * 2.0 * kPi / 2500.0 * std::cos(2.0 * kPi * x / 2500.0);
}
// How far the channel is cut below the floodplain at distance d from its centre line.
inline double channelCut(double d) { return 2.5 * std::max(0.0, 1.0 - (d / 40.0) * (d / 40.0)); }
inline std::int64_t toMm(double metres) { return std::llround(metres * 1000.0); }

struct Valley {
    std::int32_t rows = 0, columns = 0;  // node n (from 0) = column * rows + row
    double dx = 0.0, dy = 0.0;
    std::vector<std::int32_t> groundMm;    // per node
    std::vector<double> lateralShare;      // per node: -1 .. 1, side of the channel
    std::vector<double> speedFactor;       // per node: sqrt(slope) / Manning's n
    std::vector<std::array<std::int32_t, 4>> cells;  // node numbers from 1; 4th 0 = triangle
    std::vector<std::int8_t> material;     // per cell: 1 channel, 2 floodplain

    std::int64_t nodeCount() const { return std::int64_t{rows} * columns; }
    std::int64_t cellCount() const { return static_cast<std::int64_t>(cells.size()); }
};

inline Valley buildValley(std::int64_t requestedNodes) {
    Valley v;
    // Four times as many nodes along the valley as across it.
    v.rows = static_cast<std::int32_t>(std::max<double>(3.0, std::llround(std::sqrt(requestedNodes / 4.0))));
    v.columns = static_cast<std::int32_t>(std::max<std::int64_t>(4, requestedNodes / v.rows));
    if (std::int64_t{v.rows} * v.columns > 2000000000) throw std::runtime_error("too many nodes");
    v.dx = kLength / (v.columns - 1);
    v.dy = kWidth / (v.rows - 1);
    const std::size_t n = static_cast<std::size_t>(v.nodeCount());
    v.groundMm.resize(n);
    v.lateralShare.resize(n);
    v.speedFactor.resize(n);
    for (std::int32_t i = 0; i < v.columns; ++i) {
        const double x = i * v.dx;
        const double centre = channelCentre(x);
        for (std::int32_t j = 0; j < v.rows; ++j) {
            const double y = j * v.dy;
            const double offset = y - centre;
            const double d = std::abs(offset);
            // Floodplain falling 1 m per km downstream and rising towards the valley sides.
            const double floodplain = 30.0 - kBedSlope * x + 2.0e-5 * d * d;
            const std::size_t k = static_cast<std::size_t>(i) * v.rows + j;
            v.groundMm[k] = static_cast<std::int32_t>(toMm(floodplain - channelCut(d)));
            v.lateralShare[k] = std::clamp(offset / 300.0, -1.0, 1.0);
            const double manningN = 0.06 - 0.01 * channelCut(d);
            v.speedFactor[k] = std::sqrt(kBedSlope) / manningN;
        }
    }
    const std::size_t quads = 2 * static_cast<std::size_t>(v.rows - 1);
    v.cells.reserve(2 * static_cast<std::size_t>(v.rows - 1) * (v.columns - 1) - quads);
    v.material.reserve(v.cells.capacity());
    auto node = [&v](std::int32_t i, std::int32_t j) { return i * v.rows + j + 1; };
    for (std::int32_t i = 0; i + 1 < v.columns; ++i) {
        const double cx = (i + 0.5) * v.dx;
        const double centre = channelCentre(cx);
        for (std::int32_t j = 0; j + 1 < v.rows; ++j) {
            const std::int32_t a = node(i, j), b = node(i + 1, j);
            const std::int32_t c = node(i + 1, j + 1), e = node(i, j + 1);
            const std::int8_t mat = std::abs((j + 0.5) * v.dy - centre) < 30.0 ? 1 : 2;
            if (i == 0 || i + 2 == v.columns) {
                // Quadrilaterals at the inflow and outflow boundaries.
                v.cells.push_back({a, b, c, e});
                v.material.push_back(mat);
            } else if ((i + j) % 2 == 0) {
                v.cells.push_back({a, b, c, 0});
                v.cells.push_back({a, c, e, 0});
                v.material.insert(v.material.end(), 2, mat);
            } else {
                v.cells.push_back({a, b, e, 0});
                v.cells.push_back({b, c, e, 0});
                v.material.insert(v.material.end(), 2, mat);
            }
        }
    }
    return v;
}

// --- the runs ---------------------------------------------------------------------------

struct Scenario {
    const char* name;
    double riseUpstream;    // metres above base flow at the peak, upstream end
    double riseDownstream;  // ... and downstream end
    double peakHour;        // hours after the wave enters the reach
};

// The design run widens the upstream channel: lower levels there, but the wave reaches the
// downstream end sooner and higher.
inline const std::array<Scenario, 2>& scenarios() {
    static const std::array<Scenario, 2> list{
        {{"base", 3.0, 2.4, 18.0}, {"design", 2.3, 3.1, 15.0}}};
    return list;
}

inline double waveShape(double tau, double peakHour) {
    if (tau <= 0.0) return 0.0;
    const double r = tau / peakHour;
    return r * r * r * std::exp(3.0 * (1.0 - r));
}

// --- little-endian output ---------------------------------------------------------------

#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kBigEndianHost = true;
#else
constexpr bool kBigEndianHost = false;
#endif

inline void put32(unsigned char* p, std::uint32_t u) {
    if (kBigEndianHost) u = (u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24);
    std::memcpy(p, &u, 4);
}
inline void putInt(unsigned char* p, std::int32_t v) { put32(p, static_cast<std::uint32_t>(v)); }
inline void putFloat(unsigned char* p, float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    put32(p, u);
}

enum Quantity { kLevel, kDepth, kVelocity };
constexpr const char* kSuffix[] = {"_h", "_d", "_V"};
constexpr const char* kDatasetName[] = {"Water Level", "Depth", "Velocity"};

// An output dataset: its file and the buffer one whole step is built in.
class DatasetFile {
public:
    DatasetFile(const std::string& path, Quantity q, std::int64_t nodes, std::int64_t cells)
        : path_(path), q_(q), cells_(cells),
          step_(static_cast<std::size_t>(9 + cells + nodes * (q == kVelocity ? 8 : 4))) {
        file_ = std::fopen(path.c_str(), "wb");
        if (file_ == nullptr) throw std::runtime_error("cannot create " + path);
        unsigned char h[92];
        const std::int32_t items[] = {3000, 100, 3, 110, 4, 120, 1, q == kVelocity ? 140 : 130,
                                      170, static_cast<std::int32_t>(nodes), 180,
                                      static_cast<std::int32_t>(cells), 190};
        for (int i = 0; i < 13; ++i) putInt(h + 4 * i, items[i]);
        std::string name = kDatasetName[q];
        name.resize(40, ' ');
        std::memcpy(h + 52, name.data(), 40);
        write(h, sizeof h);
    }
    DatasetFile(const DatasetFile&) = delete;
    DatasetFile& operator=(const DatasetFile&) = delete;
    ~DatasetFile() {
        if (file_ != nullptr) std::fclose(file_);
    }

    Quantity quantity() const { return q_; }
    // The step's values go here: 4 bytes per node (8 for vectors), little-endian.
    unsigned char* values() { return step_.data() + 9 + cells_; }

    void writeStep(float time, const std::int8_t* wet) {
        putInt(step_.data(), 200);
        step_[4] = 1;
        putFloat(step_.data() + 5, time);
        std::memcpy(step_.data() + 9, wet, static_cast<std::size_t>(cells_));
        write(step_.data(), step_.size());
    }

    void finish() {
        unsigned char end[4];
        putInt(end, 210);
        write(end, 4);
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) throw std::runtime_error("cannot write " + path_);
    }

private:
    void write(const void* data, std::size_t size) {
        if (std::fwrite(data, 1, size, file_) != size) throw std::runtime_error("cannot write " + path_);
    }

    std::string path_;
    Quantity q_;
    std::int64_t cells_;
    std::vector<unsigned char> step_;
    std::FILE* file_ = nullptr;
};

inline float mmToFloat(std::int64_t mm) { return static_cast<float>(mm) / 1000.0f; }

// Computes and writes one run's datasets. folder ends with a separator.
inline void writeRun(const Valley& v, const Scenario& s, const Settings& settings,
                     const std::string& folder) {
    const std::int64_t nodes = v.nodeCount();
    const std::int64_t cells = v.cellCount();
    const std::size_t n = static_cast<std::size_t>(nodes);

    std::vector<std::unique_ptr<DatasetFile>> files;
    for (Quantity q : {kLevel, kDepth, kVelocity}) {
        if (settings.datasets.find(kSuffix[q][1]) == std::string::npos) continue;
        files.push_back(std::make_unique<DatasetFile>(folder + s.name + kSuffix[q] + ".dat", q,
                                                      nodes, cells));
    }

    // depth^(2/3) by whole millimetres of depth.
    std::vector<double> twoThirds(20001);
    for (std::size_t mm = 0; mm < twoThirds.size(); ++mm)
        twoThirds[mm] = std::pow(mm / 1000.0, 2.0 / 3.0);

    // Per column: direction of the channel; per column and step: level and wave trend.
    const std::size_t columns = static_cast<std::size_t>(v.columns);
    std::vector<double> ux(columns), uy(columns), trend(columns);
    std::vector<std::int64_t> levelMm(columns);
    for (std::size_t i = 0; i < columns; ++i) {
        const double slope = channelSlope(i * v.dx);
        const double len = std::hypot(1.0, slope);
        ux[i] = 1.0 / len;
        uy[i] = slope / len;
    }

    std::vector<std::int32_t> level(n), depth(n), vx(n), vy(n);
    std::vector<std::int32_t> maxLevel(n, INT32_MIN), maxDepth(n, INT32_MIN), maxVx(n), maxVy(n);
    std::vector<std::int64_t> maxSpeed2(n, -1);
    std::vector<std::int8_t> nodeWet(n), cellWet(static_cast<std::size_t>(cells));

    auto wetCells = [&](const std::vector<std::int32_t>& depthMm) {
        for (std::size_t k = 0; k < n; ++k) nodeWet[k] = depthMm[k] > kWetDepthMm;
        // Entry 0 stands for the missing fourth corner of a triangle: always wet.
        const std::int8_t* wet = nodeWet.data() - 1;
        for (std::size_t c = 0; c < cellWet.size(); ++c) {
            const auto& k = v.cells[c];
            cellWet[c] = static_cast<std::int8_t>(wet[k[0]] & wet[k[1]] & wet[k[2]] &
                                                  (k[3] == 0 ? 1 : wet[k[3]]));
        }
    };
    auto emit = [&](float time, const std::vector<std::int32_t>& lv, const std::vector<std::int32_t>& dp,
                    const std::vector<std::int32_t>& x, const std::vector<std::int32_t>& y) {
        wetCells(dp);
        for (auto& f : files) {
            unsigned char* p = f->values();
            switch (f->quantity()) {
                case kLevel:
                    for (std::size_t k = 0; k < n; ++k) putFloat(p + 4 * k, mmToFloat(lv[k]));
                    break;
                case kDepth:
                    for (std::size_t k = 0; k < n; ++k) putFloat(p + 4 * k, mmToFloat(dp[k]));
                    break;
                case kVelocity:
                    for (std::size_t k = 0; k < n; ++k) {
                        putFloat(p + 8 * k, mmToFloat(x[k]));
                        putFloat(p + 8 * k + 4, mmToFloat(y[k]));
                    }
                    break;
            }
            f->writeStep(time, cellWet.data());
        }
    };

    const std::size_t rows = static_cast<std::size_t>(v.rows);
    for (int hour = 0; hour < settings.steps; ++hour) {
        for (std::size_t i = 0; i < columns; ++i) {
            const double x = i * v.dx;
            const double tau = hour - x / kWaveSpeed;
            const double rise = (s.riseUpstream + (s.riseDownstream - s.riseUpstream) * x / kLength) *
                                waveShape(tau, s.peakHour);
            // Level flat across the valley: channel bed + 1.2 m of base flow + the wave.
            levelMm[i] = toMm(30.0 - kBedSlope * x - 2.5 + 1.2 + rise);
            // Water spreads out of the channel while the wave rises and drains back after it.
            trend[i] = tau <= 0.0 ? 0.0 : (tau < s.peakHour ? 1.0 : -1.0);
        }
        for (std::size_t i = 0; i < columns; ++i) {
            const std::int64_t columnLevel = levelMm[i];
            for (std::size_t k = i * rows, end = k + rows; k < end; ++k) {
                const std::int32_t ground = v.groundMm[k];
                const auto lv = static_cast<std::int32_t>(std::max<std::int64_t>(columnLevel, ground));
                const std::int32_t dp = lv - ground;
                std::int32_t sx = 0, sy = 0;
                if (dp > kWetDepthMm) {
                    const double d23 = dp < 20001 ? twoThirds[static_cast<std::size_t>(dp)]
                                                  : std::cbrt((dp / 1000.0) * (dp / 1000.0));
                    const double speed = d23 * v.speedFactor[k];
                    const double lateral = 0.25 * speed * v.lateralShare[k] * trend[i];
                    sx = static_cast<std::int32_t>(toMm(speed * ux[i] - lateral * uy[i]));
                    sy = static_cast<std::int32_t>(toMm(speed * uy[i] + lateral * ux[i]));
                }
                level[k] = lv;
                depth[k] = dp;
                vx[k] = sx;
                vy[k] = sy;
                maxLevel[k] = std::max(maxLevel[k], lv);
                maxDepth[k] = std::max(maxDepth[k], dp);
                const std::int64_t speed2 = std::int64_t{sx} * sx + std::int64_t{sy} * sy;
                if (speed2 > maxSpeed2[k]) {
                    maxSpeed2[k] = speed2;
                    maxVx[k] = sx;
                    maxVy[k] = sy;
                }
            }
        }
        emit(static_cast<float>(hour), level, depth, vx, vy);
    }
    if (settings.maximumStep && settings.steps > 0) emit(kMaximumTime, maxLevel, maxDepth, maxVx, maxVy);
    for (auto& f : files) f->finish();
}

// --- the text mesh ----------------------------------------------------------------------

// Appends millimetres as metres with three decimals ("-0.250", "24.013").
inline char* putMetres(char* p, std::int64_t mm) {
    if (mm < 0) {
        *p++ = '-';
        mm = -mm;
    }
    p = std::to_chars(p, p + 24, mm / 1000).ptr;
    const auto frac = static_cast<int>(mm % 1000);
    *p++ = '.';
    *p++ = static_cast<char>('0' + frac / 100);
    *p++ = static_cast<char>('0' + frac / 10 % 10);
    *p++ = static_cast<char>('0' + frac % 10);
    return p;
}

inline std::vector<char> meshText(const Valley& v) {
    const std::int64_t originX = 412000000, originY = 5795000000;  // mm, a projected origin
    std::vector<char> text(static_cast<std::size_t>(64 * (v.cellCount() + v.nodeCount()) + 256));
    char* p = text.data();
    const char head[] = "MESH2D\nMESHNAME \"kelvara benchmark valley\"\n";
    p = std::copy(head, head + sizeof head - 1, p);
    for (std::size_t c = 0; c < v.cells.size(); ++c) {
        const auto& k = v.cells[c];
        p = std::copy_n(k[3] > 0 ? "E4Q " : "E3T ", 4, p);
        p = std::to_chars(p, p + 12, static_cast<std::int64_t>(c + 1)).ptr;
        for (std::int32_t node : k) {
            if (node == 0) continue;
            *p++ = ' ';
            p = std::to_chars(p, p + 12, node).ptr;
        }
        *p++ = ' ';
        *p++ = static_cast<char>('0' + v.material[c]);
        *p++ = '\n';
    }
    for (std::int32_t i = 0; i < v.columns; ++i) {
        const std::int64_t x = originX + toMm(i * v.dx);
        for (std::int32_t j = 0; j < v.rows; ++j) {
            const std::int64_t k = std::int64_t{i} * v.rows + j;
            p = std::copy_n("ND ", 3, p);
            p = std::to_chars(p, p + 12, k + 1).ptr;
            *p++ = ' ';
            p = putMetres(p, x);
            *p++ = ' ';
            p = putMetres(p, originY + toMm(j * v.dy));
            *p++ = ' ';
            p = putMetres(p, v.groundMm[static_cast<std::size_t>(k)]);
            *p++ = '\n';
        }
    }
    text.resize(static_cast<std::size_t>(p - text.data()));
    return text;
}

inline void writeBytes(const std::string& path, const std::vector<char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace bench_case
