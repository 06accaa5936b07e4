// Progress arithmetic of the layer stack: the 5 % rule, propagation outward
// and into parent loggers, completion on Pop, time remaining.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <thread>

#include <vidOderavev/Progress/Logger.h>
#include <vidOderavev/Progress/TimeRemaining.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using Test::Attach;
using Test::CChildLink;
using Test::CRecordingVisualizer;
using boost::posix_time::time_duration;

namespace {

typedef std::vector<std::string> TEvents;

// GetTimeRemaining does not flush, so it tells whether a layer has received
// progress: with value v of max m it is elapsed * (m - v) / v, bracketed by
// the run times read just before and just after.
void ExpectRemaining(const boost::shared_ptr<CLogger>& logger, int layer, double factor)
{
    const int64_t before = logger->GetRuntime(layer).total_microseconds();
    const time_duration remaining = logger->GetTimeRemaining(layer);
    const int64_t after = logger->GetRuntime(layer).total_microseconds();
    ASSERT_FALSE(remaining.is_special()) << "factor " << factor;
    const int64_t value = remaining.total_microseconds();
    // A relative margin of 1e-6 covers the rounding of non-dyadic fractions.
    EXPECT_GE(value, static_cast<int64_t>(std::floor(factor * static_cast<double>(before) * (1.0 - 1e-6))) - 1);
    EXPECT_LE(value, static_cast<int64_t>(std::ceil(factor * static_cast<double>(after) * (1.0 + 1e-6))) + 1);
}

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

} // namespace

TEST(LoggerProgress, NestedLayerFeedsRoot)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    EXPECT_EQ(logger->Push("inner", 50.0, 10.0), 1);
    logger->SetProgress(5, false);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 0.25);
    EXPECT_EQ(logger->GetProgress(0), 25.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(1), 0.5);
    logger->Pop();
    EXPECT_EQ(logger->GetNumberOfLayers(), 1);
    EXPECT_EQ(logger->GetProgress(0), 50.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 0.5);
}

TEST(LoggerProgress, ConstructorGivesRootLayer)
{
    auto logger = boost::make_shared<CLogger>("root", 3.0, 40.0, 0.0, false, LayerSecrecyPrivate, "alt");
    EXPECT_EQ(logger->GetNumberOfLayers(), 1);
    EXPECT_EQ(logger->GetText(), "root");
    EXPECT_EQ(logger->GetAltText(0), "alt");
    EXPECT_EQ(logger->GetClass(0), LayerClassRoot);
    EXPECT_EQ(logger->GetMaxValue(), 40.0);
    EXPECT_EQ(logger->GetProgress(), 0.0);
    EXPECT_FALSE(logger->GetParent());
    EXPECT_EQ(logger->GetNumberOfChildren(), 0);
    EXPECT_TRUE(logger->GetTimeRemaining(0).is_pos_infinity());
}

TEST(LoggerProgress, AcrossLoggersExample)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 20.0, 1.0);
    const CChildLink link(parent, child);
    EXPECT_EQ(child->GetParent(), parent);
    EXPECT_EQ(parent->GetNumberOfChildren(), 1);
    child->SetProgress(0.5, false);
    EXPECT_EQ(parent->GetProgress(0), 10.0);
    EXPECT_EQ(parent->GetRelativeProgressValue(0), 0.1);
}

TEST(LoggerProgress, ChildProgressBelowParentStepIsHeldInParentTopLayer)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    parent->Push("phase", 100.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 2.0, 1.0);
    const CChildLink link(parent, child);
    child->SetProgress(1.0, false);
    // 2 units of 100 stay in the parent's top layer: the root has seen nothing.
    EXPECT_TRUE(parent->GetTimeRemaining(0).is_pos_infinity());
    EXPECT_DOUBLE_EQ(parent->GetRelativeProgressValue(0), 0.02);
    Pause();
    ExpectRemaining(parent, 0, 49.0);
}

TEST(LoggerProgress, ChildrenFeedWhateverLayerIsOnTopOfTheParent)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto first = boost::make_shared<CLogger>("first", 10.0, 1.0);
    auto second = boost::make_shared<CLogger>("second", 30.0, 4.0);
    const CChildLink linkFirst(parent, first);
    const CChildLink linkSecond(parent, second);
    EXPECT_EQ(parent->GetNumberOfChildren(), 2);
    first->SetProgress(1.0);
    EXPECT_EQ(parent->GetProgress(0), 10.0);
    parent->Push("phase", 40.0, 60.0);
    second->SetProgress(2.0);
    // Half of the second child's 30 units land in the pushed layer.
    EXPECT_EQ(parent->GetProgress(1), 15.0);
    EXPECT_EQ(parent->GetProgress(0), 20.0);
}

TEST(LoggerProgress, ProgressRunsAlongAChainOfLoggers)
{
    auto top = boost::make_shared<CLogger>("top", 1.0, 10.0);
    auto middle = boost::make_shared<CLogger>("middle", 10.0, 100.0);
    auto bottom = boost::make_shared<CLogger>("bottom", 50.0, 2.0);
    const CChildLink linkMiddle(top, middle);
    const CChildLink linkBottom(middle, bottom);
    bottom->SetProgress(1.0);
    EXPECT_EQ(middle->GetProgress(0), 25.0);
    EXPECT_EQ(top->GetProgress(0), 2.5);
    EXPECT_EQ(top->GetRelativeProgressValue(0), 0.25);
}

TEST(LoggerProgress, RemovedChildNoLongerFeedsTheParent)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 20.0, 1.0);
    auto stranger = boost::make_shared<CLogger>("stranger");
    parent->AddChildLogger(child);
    parent->RemoveChildLogger(stranger);
    EXPECT_EQ(parent->GetNumberOfChildren(), 1);
    parent->RemoveChildLogger(child);
    EXPECT_EQ(parent->GetNumberOfChildren(), 0);
    EXPECT_FALSE(child->GetParent());
    child->SetProgress(1.0);
    EXPECT_EQ(parent->GetProgress(0), 0.0);
    parent->RemoveChildLogger(child);
    EXPECT_EQ(parent->GetNumberOfChildren(), 0);
}

TEST(LoggerProgress, StepOfFivePercentOnMaxValue1000)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("steps", 100.0, 1000.0);
    auto visualizer = Attach(logger);
    int step = 0;
    std::vector<int> passedAt;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>&, bool) { passedAt.push_back(step); };
    for (step = 1; step <= 1000; ++step)
        logger->IncrementProgress();
    std::vector<int> expected;
    for (int i = 50; i <= 1000; i += 50)
        expected.push_back(i);
    EXPECT_EQ(passedAt, expected);
    EXPECT_EQ(visualizer->Count("Progress"), 20);
    EXPECT_EQ(visualizer->Count("Progress(immediate)"), 0);
    EXPECT_NEAR(logger->GetProgress(0), 100.0, 1e-9);
}

TEST(LoggerProgress, GetterBetweenStepsShowsExactValueAndMovesTheStep)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("steps", 100.0, 1000.0);
    for (int i = 0; i < 7; ++i)
        logger->IncrementProgress();
    // Nothing has reached the root yet; the getter flushes first.
    EXPECT_TRUE(logger->GetTimeRemaining(0).is_pos_infinity());
    EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.007);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 0.7);
    auto visualizer = Attach(logger);
    int step = 7;
    std::vector<int> passedAt;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>&, bool) { passedAt.push_back(step); };
    for (step = 8; step <= 120; ++step)
        logger->IncrementProgress();
    // The flush reported 7, so the next steps come at 57 and 107.
    EXPECT_EQ(passedAt, (std::vector<int>{57, 107}));
}

TEST(LoggerProgress, IncrementWithStep)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0);
    logger->IncrementProgress(2.5);
    logger->IncrementProgress(0.25);
    EXPECT_EQ(logger->GetProgress(), 2.75);
}

TEST(LoggerProgress, ForcedSetProgressPassesSmallChangesAndDecreases)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 100.0, 100.0);
    auto visualizer = Attach(logger);
    logger->SetProgress(1.0, true);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress"}));
    Pause();
    ExpectRemaining(logger, 0, 99.0);
    logger->SetProgress(50.0, false);
    logger->SetProgress(40.0, true);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress", "Progress", "Progress"}));
    ExpectRemaining(logger, 0, 1.5);
}

TEST(LoggerProgress, UnforcedDecreaseIsOnlyStored)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 100.0, 100.0);
    logger->SetProgress(50.0, false);
    auto visualizer = Attach(logger);
    logger->SetProgress(20.0, false);
    EXPECT_TRUE(visualizer->Events().empty());
    Pause();
    ExpectRemaining(logger, 0, 1.0); // the root still holds 50
    ExpectRemaining(logger, 1, 4.0); // the top layer holds 20
    // A flush passes the decrease outward.
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 20.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress(immediate)"}));
}

TEST(LoggerProgress, UnchangedValueIsNotPassedEvenWhenForced)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->SetProgress(30.0);
    auto visualizer = Attach(logger);
    logger->SetProgress(30.0, true);
    logger->SetMaxValue(100.0);
    EXPECT_TRUE(visualizer->Events().empty());
}

TEST(LoggerProgress, ValueAboveMaxIsPassedAsMax)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(15.0);
    EXPECT_EQ(logger->GetProgress(1), 10.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(1), 1.0);
    EXPECT_EQ(logger->GetProgress(0), 50.0);
    logger->IncrementProgress(100.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(1), 1.0);
    EXPECT_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerProgress, LoweringMaxValueLowersValue)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(8.0);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 40.0);
    auto visualizer = Attach(logger);
    logger->SetMaxValue(4.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"Progress"}));
    EXPECT_EQ(logger->GetProgress(1), 4.0);
    EXPECT_EQ(logger->GetMaxValue(), 4.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(1), 1.0);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerProgress, RaisingMaxValueOfAnInnerLayer)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(5.0);
    logger->SetMaxValue(0, 200.0);
    EXPECT_EQ(logger->GetMaxValue(0), 200.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 0.125);
}

TEST(LoggerProgress, InitialValueOfPush)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1000.0);
    auto visualizer = Attach(logger);
    logger->Push("none", 50.0, 10.0, 0.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged"}));
    logger->Pop();
    visualizer->Reset();

    // 4 % is held back until a getter flushes it.
    logger->Push("small", 50.0, 100.0, 4.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged"}));
    EXPECT_EQ(logger->GetProgress(1), 4.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged", "Progress(immediate)"}));
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 52.0);
    logger->Pop();
    visualizer->Reset();

    // 5 % goes outward at once.
    logger->Push("step", 20.0, 100.0, 5.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged", "Progress"}));
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 101.0);
    EXPECT_EQ(visualizer->Events(), TEvents({"LoggerChanged", "Progress"}));
}

TEST(LoggerProgress, PopCompletesTheLayerIntoEveryEnclosingLayer)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0);
    logger->Push("outer", 5.0, 100.0);
    logger->Push("inner", 40.0, 4.0);
    logger->SetProgress(1.0);
    EXPECT_EQ(logger->GetProgress(1), 10.0);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 0.5);
    logger->Pop();
    EXPECT_EQ(logger->GetProgress(1), 40.0);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 2.0);
    logger->Pop();
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 5.0);
}

TEST(LoggerProgress, HeldBackChangeOfEnclosingLayerTravelsWithTheChild)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("outer", 100.0, 100.0);
    logger->SetProgress(3.0); // held back in the outer layer
    logger->Push("inner", 10.0, 10.0);
    logger->SetProgress(5.0); // 5 units more for the outer layer
    Pause();
    ExpectRemaining(logger, 0, 92.0 / 8.0);
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 8.0);
}

TEST(LoggerProgress, PopIsRefusedForRootLayerAndWithChildren)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    auto visualizer = Attach(logger);
    logger->Pop();
    EXPECT_EQ(logger->GetNumberOfLayers(), 1);
    EXPECT_TRUE(visualizer->Events().empty());

    logger->Push("layer", 50.0, 10.0);
    auto child = boost::make_shared<CLogger>("child");
    logger->AddChildLogger(child);
    visualizer->Reset();
    logger->Pop();
    EXPECT_EQ(logger->GetNumberOfLayers(), 2);
    EXPECT_TRUE(visualizer->Events().empty());
    EXPECT_EQ(logger->GetProgress(0), 0.0);
    logger->RemoveChildLogger(child);
    logger->Pop();
    EXPECT_EQ(logger->GetNumberOfLayers(), 1);
    EXPECT_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerProgress, RelativeProgressNeverExceedsOne)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0);
    logger->Push("a", 30.0, 1.0);
    logger->SetProgress(1.0);
    logger->Pop();
    logger->Push("b", 30.0, 1.0);
    logger->SetProgress(1.0);
    logger->Pop();
    EXPECT_EQ(logger->GetProgress(0), 10.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 1.0);
}

// A layer with max value 0 has the fraction 0 while it runs and hands its
// whole quota to the enclosing layer when it is popped.
TEST(LoggerProgress, MaxValueZeroNeverGivesNanOrInfinity)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("empty", 10.0, 0.0);
    logger->IncrementProgress();
    logger->SetProgress(5.0, true);
    logger->SetProgress(-1.0, false);
    for (int layer = 0; layer < 2; ++layer) {
        EXPECT_EQ(logger->GetRelativeProgressValue(layer), 0.0) << layer;
        EXPECT_TRUE(std::isfinite(logger->GetProgress(layer))) << layer;
        EXPECT_TRUE(std::isfinite(logger->GetMaxValue(layer))) << layer;
        const time_duration remaining = logger->GetTimeRemaining(layer);
        EXPECT_TRUE(!remaining.is_special() || remaining.is_pos_infinity()) << layer;
    }
    EXPECT_EQ(logger->GetProgress(0), 0.0);
    logger->Pop();
    EXPECT_EQ(logger->GetProgress(0), 10.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 0.1);
}

TEST(LoggerProgress, MaxValueSetToZeroAndPopped)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 50.0, 10.0);
    logger->SetProgress(5.0);
    EXPECT_EQ(logger->GetProgress(0), 25.0);
    logger->SetMaxValue(0.0);
    EXPECT_EQ(logger->GetRelativeProgressValue(1), 0.0);
    EXPECT_EQ(logger->GetProgress(0), 0.0);
    logger->Pop();
    EXPECT_EQ(logger->GetProgress(0), 50.0);
}

TEST(LoggerProgress, RootWithMaxValueZeroInAChain)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 20.0, 0.0);
    const CChildLink link(parent, child);
    child->SetProgress(3.0);
    child->IncrementProgress();
    EXPECT_EQ(child->GetRelativeProgressValue(0), 0.0);
    EXPECT_EQ(parent->GetProgress(0), 0.0);
    EXPECT_TRUE(child->GetTimeRemaining(0).is_pos_infinity());
}

TEST(LoggerProgress, FixedTextIsInheritedWhileTracingIsOff)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1.0, 0.0, true, LayerSecrecyPublic, "root alt");
    logger->Push("own", 1.0, 1.0, 0.0, false, LayerClassStep, LayerSecrecyPublic, "own alt");
    EXPECT_EQ(logger->GetText(1), "root");
    EXPECT_EQ(logger->GetAltText(1), "root alt");
    logger->Push("third", 1.0, 1.0);
    EXPECT_EQ(logger->GetText(), "root");
    logger->SetText("changed");
    logger->SetAltText("changed alt");
    EXPECT_EQ(logger->GetText(2), "changed");
    EXPECT_EQ(logger->GetAltText(2), "changed alt");
    // The layer above a changed fixed-text layer takes the changed texts.
    logger->Push("fourth", 1.0, 1.0);
    EXPECT_EQ(logger->GetText(3), "changed");
    EXPECT_EQ(logger->GetAltText(3), "changed alt");
}

TEST(LoggerProgress, LayersWithoutFixedTextKeepTheirTexts)
{
    auto logger = boost::make_shared<CLogger>("root");
    logger->Push("own", 1.0, 1.0, 0.0, false, LayerClassStep, LayerSecrecyPublic, "alt");
    EXPECT_EQ(logger->GetText(), "own");
    EXPECT_EQ(logger->GetAltText(1), "alt");
    EXPECT_EQ(logger->GetClass(1), LayerClassStep);
    logger->SetClass(1, static_cast<ELayerClass>(42));
    EXPECT_EQ(logger->GetClass(1), 42);
}

TEST(LoggerTimeRemaining, EstimateFromValueMaxValueAndElapsedTime)
{
    using boost::posix_time::microseconds;
    using boost::posix_time::seconds;
    const time_duration infinite(boost::posix_time::pos_infin);
    const time_duration unknown(boost::posix_time::not_a_date_time);
    struct SCase
    {
        double m_dValue, m_dMaxValue;
        time_duration m_oElapsed, m_oExpected;
    } const cases[] = {
        {25.0, 100.0, seconds(10), seconds(30)},
        {0.0009, 1.0, seconds(10), infinite},                    // done truncates to 0
        {0.0015, 1.0, microseconds(1000), microseconds(998000)}, // done 1, rest 998
        {3.0, 4.0, microseconds(10), microseconds(3)},           // 10 * 1000 / 3000, truncated
        {10.0, 10.0, seconds(5), seconds(0)},
        {1.0, 2.0, infinite, infinite},
        {1.0, 2.0, unknown, unknown},
        {1.0, 1e300, seconds(1), infinite}, // beyond a duration's range
    };
    for (const SCase& test : cases)
        EXPECT_EQ(Detail::EstimateTimeRemaining(test.m_dValue, test.m_dMaxValue, test.m_oElapsed), test.m_oExpected)
            << "case " << &test - cases;
}

TEST(LoggerTimeRemaining, QuarterDoneLeavesThreeTimesTheElapsedTime)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1.0);
    logger->Push("layer", 1.0, 100.0);
    logger->SetProgress(25.0);
    Pause();
    ExpectRemaining(logger, 1, 3.0);
    // The runtime of the layer is now minus its start time.
    const time_duration first = logger->GetRuntime(1);
    Pause();
    EXPECT_GE((logger->GetRuntime(1) - first).total_milliseconds(), 19);
}

TEST(LoggerTimeRemaining, ReadsTheHeldBackValueWithoutFlushing)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->SetProgress(2.0);
    auto visualizer = Attach(logger);
    Pause();
    ExpectRemaining(logger, 0, 49.0);
    EXPECT_TRUE(visualizer->Events().empty());
}

TEST(LoggerTimeRemaining, BelowOneThousandthIsInfinite)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1.0);
    logger->SetProgress(0.0009, true);
    EXPECT_TRUE(logger->GetTimeRemaining(0).is_pos_infinity());
    logger->SetProgress(0.001, true);
    EXPECT_FALSE(logger->GetTimeRemaining(0).is_special());
}

TEST(LoggerTimeRemaining, ValuesBeyondThe32BitRange)
{
    // Thousandfold beyond 32 bits, beyond 64 bits in the product, and
    // beyond 64 bits in the thousandfold itself.
    const double scales[] = {1e9, 1e15, 1e18, 1e100};
    for (double scale : scales) {
        auto logger = boost::make_shared<CLogger>("root", 1.0, 4.0 * scale);
        logger->SetProgress(scale);
        Pause();
        ExpectRemaining(logger, 0, 3.0);
    }
}

TEST(LoggerTimeRemaining, HugeResultSaturatesToInfinity)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 1e300);
    logger->SetProgress(1.0, true);
    Pause();
    EXPECT_TRUE(logger->GetTimeRemaining(0).is_pos_infinity());
    auto infinite = boost::make_shared<CLogger>("root", 1.0, std::numeric_limits<double>::infinity());
    infinite->SetProgress(1.0, true);
    EXPECT_TRUE(infinite->GetTimeRemaining(0).is_pos_infinity());
}

TEST(LoggerTimeRemaining, CompleteLayerHasNothingLeft)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 10.0);
    logger->SetProgress(10.0);
    EXPECT_EQ(logger->GetTimeRemaining(0), time_duration(0, 0, 0));
}

TEST(LoggerProgress, ReturningToTheReportedValueIsNotLost)
{
    // 50 is reported, 40 held back, then 50 again: the layer stands at 50,
    // and a flush has nothing to pass.
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("layer", 100.0, 100.0);
    logger->SetProgress(50.0);
    logger->SetProgress(40.0);
    logger->SetProgress(50.0);
    auto visualizer = Attach(logger);
    EXPECT_EQ(logger->GetProgress(), 50.0);
    EXPECT_EQ(logger->GetProgress(0), 50.0);
    logger->SetProgress(40.0);
    logger->IncrementProgress(10.0);
    EXPECT_EQ(logger->GetProgress(), 50.0);
    EXPECT_TRUE(visualizer->Events().empty());
}

TEST(LoggerProgress, StepFollowsTheTopLayerThroughMaxChangesPushAndPop)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("a", 100.0, 100.0);
    auto visualizer = Attach(logger);
    for (int i = 0; i < 4; ++i)
        logger->IncrementProgress();
    EXPECT_TRUE(visualizer->Events().empty());
    logger->SetMaxValue(50.0); // passes 4 of 50: the next step is at 6.5
    EXPECT_EQ(visualizer->Count("Progress"), 1);
    logger->IncrementProgress();
    logger->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 1);
    logger->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 2);

    logger->Push("b", 10.0, 20.0); // its step is 1
    logger->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 3);
    logger->Pop(); // "a" reports 7 + 0.5 + 9.5 = 17: the next step is at 19.5
    EXPECT_EQ(visualizer->Count("Progress(immediate)"), 1);
    logger->IncrementProgress();
    logger->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 3);
    logger->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 4);
    EXPECT_EQ(logger->GetProgress(), 20.0);
    EXPECT_EQ(visualizer->Count("Progress(immediate)"), 1);
}

TEST(LoggerProgress, StepFollowsProgressFedByAChild)
{
    auto parent = boost::make_shared<CLogger>("parent", 1.0, 100.0);
    auto child = boost::make_shared<CLogger>("child", 10.0, 1.0);
    parent->AddChildLogger(child);
    auto visualizer = Attach(parent);
    child->SetProgress(0.25); // 2.5 held back in the parent
    parent->IncrementProgress();
    parent->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 1);
    parent->IncrementProgress(); // 5.5 reaches the step at 5
    EXPECT_EQ(visualizer->Count("Progress"), 2);
    child->SetProgress(1.0); // 5.5 + 7.5 = 13 is passed: the next step is at 18
    EXPECT_EQ(visualizer->Count("Progress"), 3);
    for (int i = 0; i < 4; ++i)
        parent->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 3);
    parent->IncrementProgress();
    EXPECT_EQ(visualizer->Count("Progress"), 4);
    EXPECT_EQ(parent->GetProgress(0), 18.0);
    parent->RemoveChildLogger(child);
}
