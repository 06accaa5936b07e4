// What visualizers are told, in which order and with which immediate flag,
// and that they may read the logger back from inside every notification.
#include <gtest/gtest.h>

#include "support/RecordingVisualizer.h"

using namespace Qz::Varnel::Progress;
using namespace Test;

TEST(LoggerNotification, WhatEachChangeTells)
{
    auto logger = MakeLogger("root", 1.0, 100.0);
    auto visualizer = Attach(logger);
    // Inside Progress of a Pop the completed layer is still there, at its
    // max value (also for a max value of 0); inside LoggerChanged it is gone.
    std::string seen;
    visualizer->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& l, bool) {
        const int top = l->GetNumberOfLayers() - 1;
        seen += " " + std::to_string(top) + ":" + std::to_string(l->GetProgress(top) == l->GetMaxValue(top));
    };
    for (double maxValue : {10.0, 0.0}) {
        logger->Push("layer", 10.0, maxValue);
        logger->SetProgress(maxValue ? 3.0 : 10.0);
        logger->Pop();
    }
    EXPECT_EQ(visualizer->Take(), TEvents({"Layers 2", "Progress", "Progress!", "Layers 1", "Layers 2", "Progress",
                                           "Progress!", "Layers 1"}));
    EXPECT_EQ(seen, " 1:0 1:1 1:1 1:1");
    EXPECT_EQ(visualizer->m_pLastLogger, logger.get());
    visualizer->m_fnOnProgress = nullptr;
    // Texts only on a real change; SetClass always.
    logger->Push("layer", 20.0, 10.0);
    for (const char* text : {"layer", "new"}) {
        logger->SetText(text);
        logger->SetText(0, text[0] == 'l' ? "root" : "newer");
        logger->SetAltText(text[0] == 'l' ? "" : "alt");
    }
    logger->SetAltText(0, "alter");
    logger->SetClass(0, LayerClassRoot);
    logger->SetClass(0, LayerClassStep);
    EXPECT_EQ(visualizer->Take(), TEvents({"Layers 2", "Text", "Text", "Text", "Text", "Layers 2", "Layers 2"}));
}

TEST(LoggerNotification, ChildLoggers)
{
    // A child without visualizers tells its parent's, with the parent; a
    // change held back in the parent's top layer is told all the same.
    auto parent = MakeLogger("parent", 1.0, 100.0), child = MakeLogger("child", 20.0, 1.0);
    const SChildLink link(parent, child);
    auto visualizer = Attach(parent);
    child->SetProgress(0.5);
    EXPECT_EQ(visualizer->m_pLastLogger, parent.get());
    child->SetProgress(0.52, true);
    child->SetProgress(0.55);
    EXPECT_DOUBLE_EQ(child->GetProgress(), 0.55);
    child->Push("step", 0.1, 1.0);
    child->Pop();
    EXPECT_EQ(visualizer->Take(), TEvents({"Progress", "Progress", "Progress!", "Progress!"}));
    // A child with visualizers tells only its own.
    auto childVisualizer = Attach(child);
    child->SetProgress(1.0);
    EXPECT_EQ(childVisualizer->Take(), TEvents{"Progress"});
    EXPECT_EQ(childVisualizer->m_pLastLogger, child.get());
    EXPECT_TRUE(visualizer->Take().empty());
    EXPECT_EQ(parent->GetProgress(0), 20.0);
}

TEST(LoggerNotification, GettersInsideNotificationsNestBoundedly)
{
    // Every notification stores a held-back change and reads it back: the
    // nesting must stop by itself.
    auto logger = MakeLogger("root", 1.0, 1000.0);
    auto nesting = Attach(logger);
    int depth = 0, deepest = 0, calls = 0;
    nesting->m_fnOnProgress = [&](const boost::shared_ptr<CLogger>& l, bool) {
        deepest = std::max(deepest, ++depth);
        if (++calls < 1000) {
            l->IncrementProgress(0.25);
            l->GetProgress();
        }
        --depth;
    };
    logger->SetProgress(100.0);
    EXPECT_EQ(deepest, 4); // where the logger cuts nested notifications from getter flushes
    EXPECT_EQ(nesting->Take(), TEvents({"Progress", "Progress!", "Progress!", "Progress!"}));
    EXPECT_EQ(logger->GetProgress(0), 101.0); // flushed without a notification all the same
}
