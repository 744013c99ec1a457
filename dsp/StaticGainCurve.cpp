// The static gain surface: separable monotone interpolation over the measured grid,
// first along the level (row curves built once), then along Peak Reduction.

#include "dsp/StaticGainCurve.h"

#include "dsp/Pchip.h"

#include <array>
#include <cstddef>

namespace quillon {
namespace {

constexpr std::array<double, 7> inputNodes{-47.999973716469796, -41.999973716469796, -35.999973716469796,
                                           -29.999973716469796, -23.999973716469796, -17.999973716469796,
                                           -11.999973716469796};

constexpr std::array<double, 8> peakNodes{0.0, 0.15, 0.2775, 0.4, 0.55, 0.7, 0.85, 1.0};

// One row per peak node, one column per input node.
constexpr std::array<double, 56> staticGainGrid{
    5.6169951122391595, 5.617070001364553,   5.617197492202781,  5.617668625047035,   5.619185113073993,  5.621928651410434,   5.6251524344780695,
    5.6169951122391595, 5.617070001364553,   5.617197492202781,  5.617668625047035,   5.618448184334802,  5.618564946044499,   5.620221637200219,
    5.6169951122391595, 5.617070001364553,   5.617197492202781,  5.617668625047035,   5.6160825289312335, 5.605520792733493,   4.184244017485589,
    5.6169951122391595, 5.617070001364553,   5.617197492202781,  5.617668625047035,   5.573514015732325,  3.309099984782687,   -1.0435861782911378,
    5.617549817896133,  5.617621124660282,   5.617748706420372,  5.4524439735620405,  2.5394648143252887, -1.9584084065534242, -6.78676641217929,
    5.618660212088145,  5.612583503302567,   3.9751108899117966, -0.2105198426707524, -4.959904438860711, -9.835372961739075,  -14.631009442228372,
    5.322621627037776,  2.0872919801972785,  -2.470836301109159, -7.313866240649823,  -12.164732815419974, -16.885843032287013, -21.360794531996405,
    4.229311564812193,  0.12988304489602598, -4.600032498887018, -9.469411155187792,  -14.281296538572377, -18.991102248366836, -23.384483947606128};

constexpr double lowestLevelDb = -47.999973716469796;
constexpr double topGridLevelDb = -11.999973716469796;
constexpr double highestLevelDb = -2.6999708456034766;
constexpr double baseGradient = -0.1;
constexpr double gradientSpan = -0.6255933497265806;
constexpr double steepestGradient = -0.7255933497265806;
constexpr double gradientKnee = 0.4;

std::array<PchipCurve<7>, 8> makeGridRows() noexcept
{
    auto row = [](std::size_t r) {
        std::array<double, 7> values{};
        for (std::size_t i = 0; i < 7; ++i)
            values[i] = staticGainGrid[r * 7 + i];
        return PchipCurve<7>(inputNodes, values);
    };
    return {row(0), row(1), row(2), row(3), row(4), row(5), row(6), row(7)};
}

// The row slopes depend only on the grid, so they are worked out once, on first use
// (which also keeps them safe from the order in which other files initialise).
const std::array<PchipCurve<7>, 8>& gridRows() noexcept
{
    static const std::array<PchipCurve<7>, 8> rows = makeGridRows();
    return rows;
}

} // namespace

double baseStaticGain(double peak, double levelDb) noexcept
{
    const double x = levelDb < lowestLevelDb ? lowestLevelDb : (topGridLevelDb < levelDb ? topGridLevelDb : levelDb);
    const pchipdetail::Point along = pchipdetail::locate(inputNodes, x);
    const std::array<PchipCurve<7>, 8>& rows = gridRows();
    std::array<double, 8> column{};
    for (std::size_t r = 0; r < 8; ++r)
        column[r] = rows[r].at(along);
    const double p = peak < 0.0 ? 0.0 : (1.0 < peak ? 1.0 : peak);
    return pchip(peakNodes, column, p);
}

double extendedStaticGain(double peak, double levelDb) noexcept
{
    const double level = levelDb < lowestLevelDb ? lowestLevelDb : (highestLevelDb < levelDb ? highestLevelDb : levelDb);
    if (level <= topGridLevelDb)
        return baseStaticGain(peak, level);
    return baseStaticGain(peak, topGridLevelDb) + upperGradient(peak) * (11.999973716469796 + level);
}

double upperGradient(double peak) noexcept
{
    if (peak > gradientKnee)
        return steepestGradient;
    const double c = peak / gradientKnee;
    if (c < 0.0)
        return baseGradient;
    return (1.0 < c ? 1.0 : c) * gradientSpan + baseGradient;
}

double staticReduction(double peak, double levelDb) noexcept
{
    return extendedStaticGain(0.0, levelDb) - extendedStaticGain(peak, levelDb);
}

StaticGainColumn staticGainColumn(double levelDb) noexcept
{
    StaticGainColumn column;
    column.levelDb = levelDb < lowestLevelDb ? lowestLevelDb : (highestLevelDb < levelDb ? highestLevelDb : levelDb);
    // Above the grid the continuation starts from the top grid level's gain.
    const double x = column.levelDb <= topGridLevelDb ? column.levelDb : topGridLevelDb;
    const pchipdetail::Point along = pchipdetail::locate(inputNodes, x);
    const std::array<PchipCurve<7>, 8>& rows = gridRows();
    for (std::size_t r = 0; r < 8; ++r)
        column.gains[r] = rows[r].at(along);
    for (std::size_t j = 0; j < 8; ++j)
        column.slopes[j] = pchipSlope(peakNodes, column.gains, j);
    return column;
}

StaticGainPeak staticGainPeak(double peak) noexcept
{
    const double p = peak < 0.0 ? 0.0 : (1.0 < peak ? 1.0 : peak);
    return {pchipdetail::locate(peakNodes, p), upperGradient(peak)};
}

double extendedStaticGain(const StaticGainColumn& column, const StaticGainPeak& peak) noexcept
{
    const std::size_t k = peak.point.k;
    const double base = pchipdetail::combine(peak.point, column.gains, column.slopes[k], column.slopes[k + 1]);
    if (column.levelDb <= topGridLevelDb)
        return base;
    return base + peak.gradient * (11.999973716469796 + column.levelDb);
}

} // namespace quillon
