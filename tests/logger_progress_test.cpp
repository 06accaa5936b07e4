// Progress arithmetic: the 5 % rule, propagation outward and to parents, completion on Pop, time remaining.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

#include <vidOderavev/Progress/TimeRemaining.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using namespace Test;
using boost::posix_time::time_duration;

namespace {

// The value of every layer, root first ("50 2.5"); the getters flush what is held back.
std::string Values(const boost::shared_ptr<CLogger>& logger)
{
    std::ostringstream text;
    for (int layer = 0; layer < logger->GetNumberOfLayers(); ++layer)
        text << (layer ? " " : "") << logger->GetProgress(layer);
    return text.str();
}

// GetTimeRemaining does not flush, so it tells whether a layer has received progress: with value v
// of max m it is elapsed * (m - v) / v, bracketed by the run times read just before and just after.
void ExpectRemaining(const boost::shared_ptr<CLogger>& logger, int layer, double factor)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double before = static_cast<double>(logger->GetRuntime(layer).total_microseconds());
    const time_duration remaining = logger->GetTimeRemaining(layer);
    const double after = static_cast<double>(logger->GetRuntime(layer).total_microseconds());
    ASSERT_FALSE(remaining.is_special()) << factor;
    // A relative margin of 1e-6 covers the rounding of non-dyadic fractions.
    EXPECT_GE(remaining.total_microseconds(), std::floor(factor * before * (1.0 - 1e-6)) - 1) << factor;
    EXPECT_LE(remaining.total_microseconds(), std::ceil(factor * after * (1.0 + 1e-6)) + 1) << factor;
}

// The steps (counted from `from`) at which a progress notification arrived.
std::vector<int> StepsPassed(const boost::shared_ptr<CLogger>& logger, int from, int to)
{
    auto visualizer = Attach(logger);
    std::vector<int> passed;
    int step = from;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>&, bool) { passed.push_back(step); };
    for (; step <= to; ++step)
        logger->IncrementProgress();
    logger->RemoveVisualizer(visualizer);
    return passed;
}

} // namespace

TEST(LoggerProgress, LayersAndLoggersFeedTheRoot)
{
    auto logger = MakeLogger("root", 1.0, 100.0);
    EXPECT_EQ(logger->Push("inner", 50.0, 10.0), 1);
    logger->SetProgress(5, false);
    EXPECT_EQ(logger->GetRelativeProgressValue(0), 0.25);
    logger->Pop();
    logger->IncrementProgress(0.25);
    EXPECT_EQ(Values(logger), "50.25");
    // A chain top <- middle <- bottom, and children feeding whatever layer is on top of their parent.
    auto top = MakeLogger("top", 1.0, 10.0), middle = MakeLogger("middle", 10.0, 100.0),
         bottom = MakeLogger("bottom", 50.0, 2.0), second = MakeLogger("second", 30.0, 4.0);
    const SChildLink linkMiddle(top, middle), linkBottom(middle, bottom), linkSecond(top, second);
    EXPECT_EQ(bottom->GetParent(), middle);
    EXPECT_EQ(top->GetNumberOfChildren(), 2);
    bottom->SetProgress(1.0);
    EXPECT_EQ(Values(middle) + "|" + Values(top), "25|2.5");
    top->Push("phase", 4.0, 60.0);
    second->SetProgress(2.0); // half of 30 units into the pushed layer
    EXPECT_EQ(Values(top), "3.5 15");
}

TEST(LoggerProgress, FivePercentSteps)
{
    auto logger = MakeLogger("root", 1.0, 100.0);
    logger->Push("steps", 100.0, 1000.0);
    EXPECT_EQ(StepsPassed(logger, 1, 120), (std::vector<int>{50, 100}));
    // A getter between steps shows the exact value and moves the next step.
    EXPECT_TRUE(StepsPassed(logger, 121, 127).empty());
    EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(1), 0.127);
    EXPECT_EQ(StepsPassed(logger, 128, 180), (std::vector<int>{177}));
    // The step follows the top layer through max changes, Push and Pop.
    auto follow = MakeLogger("root", 1.0, 100.0);
    follow->Push("a", 100.0, 100.0);
    EXPECT_TRUE(StepsPassed(follow, 1, 4).empty());
    follow->SetMaxValue(50.0); // passes 4 of 50: the next step is at 6.5
    EXPECT_EQ(StepsPassed(follow, 5, 7), (std::vector<int>{7}));
    follow->Push("b", 10.0, 20.0); // its step is 1
    EXPECT_EQ(StepsPassed(follow, 1, 1), (std::vector<int>{1}));
    follow->Pop(); // "a" reports 7 + 0.5 + 9.5 = 17: the next step is at 19.5
    EXPECT_EQ(StepsPassed(follow, 18, 20), (std::vector<int>{20}));
    // ... and progress fed by a child, held back in the parent.
    auto parent = MakeLogger("parent", 1.0, 100.0), child = MakeLogger("child", 10.0, 1.0);
    const SChildLink link(parent, child);
    child->SetProgress(0.25);                                    // 2.5 held back in the parent
    EXPECT_EQ(StepsPassed(parent, 1, 3), (std::vector<int>{3})); // 5.5 reaches the step at 5
}

TEST(LoggerProgress, ForcedUnforcedUnchangedAndCappedValues)
{
    auto logger = MakeLogger("root", 1.0, 100.0);
    logger->Push("layer", 100.0, 100.0);
    auto visualizer = Attach(logger);
    logger->SetProgress(1.0, true);
    logger->SetProgress(50.0, false);
    logger->SetProgress(40.0, true);
    logger->SetProgress(20.0, false); // an unforced decrease is only stored
    EXPECT_EQ(visualizer->Take(), TEvents(3, "Progress"));
    ExpectRemaining(logger, 0, 1.5); // the root still holds 40
    EXPECT_EQ(Values(logger), "20 20");
    EXPECT_EQ(visualizer->Take(), TEvents{"Progress!"});
    // Returning to the reported value passes nothing, even when forced.
    logger->SetProgress(10.0, false);
    logger->SetProgress(20.0, true);
    EXPECT_TRUE(visualizer->Take().empty());
    // A value above the max is passed as the max; a lower max lowers the value.
    auto capped = MakeLogger("root", 1.0, 100.0);
    capped->Push("layer", 50.0, 10.0);
    capped->SetProgress(15.0);
    EXPECT_EQ(Values(capped), "50 10");
    capped->SetProgress(8.0, true);
    capped->SetMaxValue(4.0);
    EXPECT_EQ(Values(capped), "50 4");
    capped->SetMaxValue(0, 200.0);
    EXPECT_EQ(capped->GetRelativeProgressValue(0), 0.25);
    // A max value of 0 gives the fraction 0 and hands the whole quota on at Pop.
    capped->SetMaxValue(0.0);
    EXPECT_EQ(Values(capped), "0 0");
    capped->Pop();
    EXPECT_EQ(Values(capped), "50");
}

TEST(LoggerProgress, PushAndPop)
{
    auto logger = MakeLogger("root", 1.0, 1000.0);
    auto visualizer = Attach(logger);
    logger->Push("small", 50.0, 100.0, 4.0); // 4 % is held back until a getter flushes it
    EXPECT_EQ(visualizer->Take(), TEvents{"Layers 2"});
    EXPECT_EQ(Values(logger), "2 4");
    logger->Pop();
    logger->Push("step", 20.0, 100.0, 5.0); // 5 % goes outward at once
    EXPECT_EQ(visualizer->Take(), TEvents({"Progress!", "Progress!", "Layers 1", "Layers 2", "Progress"}));
    EXPECT_EQ(Values(logger), "51 5");
    // Pop completes the layer into every enclosing layer, never beyond one.
    auto nested = MakeLogger("root", 1.0, 10.0);
    nested->Push("outer", 5.0, 100.0);
    nested->Push("inner", 40.0, 4.0);
    nested->SetProgress(1.0);
    EXPECT_EQ(Values(nested), "0.5 10 1");
    nested->Pop();
    EXPECT_EQ(Values(nested), "2 40");
    // A held-back change of an enclosing layer travels with the inner one.
    auto held = MakeLogger("root", 1.0, 100.0);
    held->Push("outer", 100.0, 100.0);
    held->SetProgress(3.0);
    held->Push("inner", 10.0, 10.0);
    held->SetProgress(5.0);
    ExpectRemaining(held, 0, 92.0 / 8.0);
    // Pop is refused while there are children (the layer trace shows it refused for the root layer).
    auto refusing = MakeLogger("root", 1.0, 100.0), child = MakeLogger("child");
    refusing->Push("layer", 50.0, 10.0);
    const SChildLink link(refusing, child);
    refusing->Pop();
    EXPECT_EQ(refusing->GetNumberOfLayers(), 2);
}

TEST(LoggerTimeRemaining, EstimateFromValueMaxValueAndElapsedTime)
{
    using boost::posix_time::microseconds;
    using boost::posix_time::seconds;
    const time_duration infinite(boost::posix_time::pos_infin);
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
        {1.0, 1e300, seconds(1), infinite}, // beyond a duration's range
    };
    for (const SCase& test : cases)
        EXPECT_EQ(Detail::EstimateTimeRemaining(test.m_dValue, test.m_dMaxValue, test.m_oElapsed), test.m_oExpected)
            << "case " << &test - cases;
    // The logger reads it per layer, from the layer's start, without a flush.
    auto logger = MakeLogger("root", 1.0, 100.0);
    EXPECT_TRUE(logger->GetTimeRemaining(0).is_pos_infinity());
    logger->SetProgress(2.0); // held back, but counted
    ExpectRemaining(logger, 0, 49.0);
    logger->Push("layer", 1.0, 100.0);
    logger->SetProgress(25.0);
    ExpectRemaining(logger, 1, 3.0);
}
