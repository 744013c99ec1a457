#pragma once

// The side-chain emphasis filter: one peaking cut in the low mids whose depth, centre
// and width follow the Emphasis control, at the fixed model rate of 48 kHz.

namespace quillon {

// Coefficients divided by a0, and the two registers of the transposed direct form II.
struct Biquad {
    double b0;
    double b1;
    double b2;
    double a1;
    double a2;
    double z1;
    double z2;
};

// Filter design for the normalised Emphasis value (1 = flat side chain, 0 = deepest
// cut), with cleared registers. Values from 0.999999999999 up give the identity.
Biquad sidechainBiquad(double emphasis) noexcept;

// One sample through the filter.
inline double filterStep(Biquad& q, double x) noexcept
{
    const double y = q.b0 * x + q.z1;
    q.z1 = (q.b1 * x - q.a1 * y) + q.z2;
    q.z2 = q.b2 * x - q.a2 * y;
    return y;
}

// Power gain |H|^2 of the coefficients at a frequency in Hz; +infinity where H overflows.
double magnitudeSquared(const Biquad& q, double frequencyHz) noexcept;

} // namespace quillon
