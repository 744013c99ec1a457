#include "dsp/OptoEnvelopeDSP.h"

// The Program follower tracks the level with the low-band offset, the Plain follower the
// calibrated level alone, the Emphasis follower the level with the emphasis correction.

#include "dsp/StaticGainCurve.h"

#include <algorithm>

namespace quillon {

namespace {

constexpr double lowPeakAttackScale = 4.0;

} // namespace

struct OptoEnvelopeDSP::Impl {
    Follower programFollower;
    Follower plainFollower;
    Follower emphasisFollower;
    double staticReductionDb = 0.0;
    double outputDb = 0.0;
    bool resultValid = false;
    bool programAboveStatic = false;
    double emphasisMemoryFast = 0.0;
    bool initialised = false;

    void reset(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept;
    double tick(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept;
};

void OptoEnvelopeDSP::Impl::reset(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept
{
    const double p = std::clamp(controls.peak, 0.0, 1.0);
    programFollower.reset(frame.lowBandLevelDb, p);
    plainFollower.reset(frame.levelDb, p);
    emphasisFollower.reset(frame.emphasisLevelDb, p);
    staticReductionDb = staticReduction(p, frame.levelDb);
    outputDb = programFollower.outputDb + emphasisFollower.outputDb - plainFollower.outputDb;
    resultValid = true;
    programAboveStatic = false;
    emphasisMemoryFast = emphasisFollower.memoryFast;
    initialised = true;
}

double OptoEnvelopeDSP::Impl::tick(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept
{
    const double p = std::clamp(controls.peak, 0.0, 1.0);
    const double e = std::clamp(controls.emphasisNorm, 0.0, 1.0);
    // The followers hear the reduction of the previous tick.
    const double previous = staticReductionDb;
    const double attackScale = p < 0.4 ? lowPeakAttackScale : 1.0;

    FollowerDiagnostic program;
    FollowerDiagnostic emphasis;
    const double r0 = programFollower.process(frame.lowBandLevelDb, frame.crestDb, previous, p, 1.0,
                                              FollowerMode::Program, attackScale, &program);
    // Without emphasis all three followers read the same curve: the first one's tables serve all.
    plainFollower.ensureTables(p, Follower::feedbackFraction(FollowerMode::Plain, 1.0), &programFollower);
    const double r1 = plainFollower.process(frame.levelDb, frame.crestDb, previous, p, 1.0, FollowerMode::Plain,
                                            1.0, nullptr);
    // The Plain follower has just worked out staticReduction(p, levelDb) for this tick.
    staticReductionDb = plainFollower.reductionDb;
    emphasisFollower.ensureTables(p, Follower::feedbackFraction(FollowerMode::Emphasis, e), &programFollower);
    const double r2 = emphasisFollower.process(frame.emphasisLevelDb, frame.shapeDb, previous, p, e,
                                               FollowerMode::Emphasis, 1.0, &emphasis);
    outputDb = r2 + r0 - r1;
    resultValid = true;
    programAboveStatic = program.aboveStatic;
    emphasisMemoryFast = emphasis.memoryFast;
    return outputDb;
}

OptoEnvelopeDSP::OptoEnvelopeDSP() : impl(std::make_unique<Impl>()) {}

OptoEnvelopeDSP::~OptoEnvelopeDSP() = default;

void OptoEnvelopeDSP::prepare() noexcept
{
    for (Follower* follower : {&impl->programFollower, &impl->plainFollower, &impl->emphasisFollower})
        follower->tickRate = 2000.0;
    impl->initialised = false;
}

void OptoEnvelopeDSP::reset(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept
{
    impl->reset(frame, controls);
}

double OptoEnvelopeDSP::tick(const EnvelopeFrame& frame, const EnvelopeControls& controls) noexcept
{
    return impl->tick(frame, controls);
}

double OptoEnvelopeDSP::outputDb() const noexcept { return impl->outputDb; }
double OptoEnvelopeDSP::staticReductionDb() const noexcept { return impl->staticReductionDb; }
bool OptoEnvelopeDSP::resultValid() const noexcept { return impl->resultValid; }
bool OptoEnvelopeDSP::programAboveStatic() const noexcept { return impl->programAboveStatic; }
double OptoEnvelopeDSP::emphasisMemoryFast() const noexcept { return impl->emphasisMemoryFast; }
bool OptoEnvelopeDSP::isInitialised() const noexcept { return impl->initialised; }
const Follower& OptoEnvelopeDSP::programFollower() const noexcept { return impl->programFollower; }
const Follower& OptoEnvelopeDSP::plainFollower() const noexcept { return impl->plainFollower; }
const Follower& OptoEnvelopeDSP::emphasisFollower() const noexcept { return impl->emphasisFollower; }

} // namespace quillon
