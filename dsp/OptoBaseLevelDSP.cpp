// Base level meter: squares in a 255-slot ring read in place by a normalised Hann
// window, so each level costs one dot product and nothing moves.

#include "dsp/OptoBaseLevelDSP.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

namespace quillon {
namespace {

constexpr std::size_t windowLength = 255;
constexpr std::uint64_t centreDelay = 127;
constexpr double twoPi = 6.283185307179586;
// 10^(-47.999973716469796 / 20): the lowest node of the static curve.
constexpr double floorAmplitude = 0.0039810837522890885;
// Below this every weighted sum of squares (the weights add up to 1) stays under DBL_MAX / 2,
// so twice the sum is finite and so is the level.
constexpr double largeSquare = std::numeric_limits<double>::max() / 4.0;

} // namespace

struct OptoBaseLevelDSP::State {
    std::array<double, windowLength> squareRing{};
    std::array<double, windowLength> window{};
    std::uint64_t count = 0;
    // Sample index of the latest square at or above largeSquare, when there is one.
    std::uint64_t lastLargeSquare = 0;
    bool anyLargeSquare = false;
    double floorAmplitude = 0.0;
    bool prepared = false;
    bool ready = false;
};

OptoBaseLevelDSP::OptoBaseLevelDSP() : state(std::make_unique<State>()) {}

OptoBaseLevelDSP::~OptoBaseLevelDSP() = default;

void OptoBaseLevelDSP::prepare()
{
    State& m = *state;
    double sum = 0.0;
    for (std::size_t i = 0; i < windowLength; ++i) {
        m.window[i] = std::cos((twoPi * static_cast<double>(i)) / 254.0) * -0.5 + 0.5;
        sum += m.window[i];
    }
    // A zero sum would leave NaN weights behind, so it counts as unusable too.
    if (!std::isfinite(sum) || !(sum > 0.0))
        throw std::runtime_error("OptoBaseLevelDSP Hann normalisation failed");
    for (double& weight : m.window)
        weight /= sum;
    m.floorAmplitude = floorAmplitude;
    m.prepared = true;
    m.squareRing.fill(0.0);
    m.count = 0;
    m.anyLargeSquare = false;
    m.ready = true;
}

void OptoBaseLevelDSP::reset() noexcept
{
    state->squareRing.fill(0.0);
    state->count = 0;
    state->anyLargeSquare = false;
    state->ready = state->prepared;
}

void OptoBaseLevelDSP::push(double input) noexcept
{
    State& m = *state;
    const double square = input * input;
    m.squareRing[m.count % windowLength] = square;
    // Written so that a NaN square counts as large too.
    if (!(square < largeSquare)) {
        m.lastLargeSquare = m.count;
        m.anyLargeSquare = true;
    }
    m.count += 1;
}

bool OptoBaseLevelDSP::mayBeNonFinite(std::uint64_t n) const noexcept
{
    // The window of n holds samples n - 254 to n.
    return state->anyLargeSquare && state->lastLargeSquare + (windowLength - 1) >= n;
}

double OptoBaseLevelDSP::centredLevel(std::uint64_t n) const noexcept
{
    const State& m = *state;
    // Only the latest sample has its whole window in the ring.
    if (n < centreDelay || n + 1 != m.count)
        return std::nan("");
    // Sample n - 254 + i sits in slot (n + 1 + i) mod 255; samples before 0 are left out.
    const std::size_t first = n >= windowLength - 1 ? 0 : static_cast<std::size_t>(windowLength - 1 - n);
    // Two runs, up to the ring's end and from its start, in the window's order.
    const std::size_t startSlot = static_cast<std::size_t>((n + 1 + first) % windowLength);
    const std::size_t wrapAt = first + (windowLength - startSlot);
    double sum = 0.0;
    for (std::size_t i = first; i < wrapAt && i < windowLength; ++i)
        sum += m.window[i] * m.squareRing[startSlot + (i - first)];
    for (std::size_t i = wrapAt; i < windowLength; ++i)
        sum += m.window[i] * m.squareRing[i - wrapAt];
    // NaN from an overflowed square must survive both maxima so the caller sees it.
    const double power = sum < 0.0 ? 0.0 : sum;
    const double rootOfTwice = std::sqrt(2.0 * power);
    const double amplitude = rootOfTwice < m.floorAmplitude ? m.floorAmplitude : rootOfTwice;
    return 20.0 * std::log10(amplitude);
}

std::uint64_t OptoBaseLevelDSP::count() const noexcept { return state->count; }

bool OptoBaseLevelDSP::isPrepared() const noexcept { return state->prepared; }

bool OptoBaseLevelDSP::isReady() const noexcept { return state->ready; }

void OptoBaseLevelDSP::markNotReady() noexcept { state->ready = false; }

} // namespace quillon
