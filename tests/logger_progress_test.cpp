#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <vidOderavev/Progress/Logger.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;

TEST(LoggerProgress, NestedLayerFeedsRoot)
{
    auto logger = boost::make_shared<CLogger>("root", 1.0, 100.0);
    logger->Push("inner", 50.0, 10.0);
    logger->SetProgress(5, false);
    EXPECT_DOUBLE_EQ(logger->GetRelativeProgressValue(0), 0.25);
    logger->Pop();
    EXPECT_DOUBLE_EQ(logger->GetProgress(0), 50.0);
}
