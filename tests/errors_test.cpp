// The error list, the captions of the two kinds of box, and the loading bar's step count.

#include <gtest/gtest.h>

#include "progress/Progress.h"
#include "report/Errors.h"
#include "support/TestSupport.h"

using namespace testing_support;

TEST(Errors, TheListIsShownJoinedAfterEachMessageWasShownAlone) {
    CaptureBoxes boxes;
    EXPECT_EQ(errorListText(), "");
    reportError("GLFW Error 0x10006: no ES\n");
    reportError("Load error : music.ogg");
    EXPECT_EQ(showFatal(errorListText()), 1);
    ASSERT_EQ(boxes.boxes().size(), 3u);
    EXPECT_EQ(boxes.boxes()[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes()[0].icon, MessageIcon::Error);
    EXPECT_EQ(boxes.boxes()[1].text, "Load error : music.ogg");
    EXPECT_EQ(boxes.boxes()[2].caption, "Error");
    EXPECT_EQ(boxes.boxes()[2].text, "- GLFW Error 0x10006: no ES\n\n- Load error : music.ogg\n");
}

TEST(Progress, StepsCountOnlyWhileActiveAndTheCheckNamesTheCount) {
    progressResetForCounting();
    progressStep();
    EXPECT_FLOAT_EQ(progress().barEnd, -1.0f) << "the first step draws an empty bar";
    progressSetActive(false);
    progressStep();
    EXPECT_EQ(progress().position, 1);
    progressSetActive(true);
    for (int i = 1; i < 341; ++i) {
        progressStep();
    }
    EXPECT_EQ(progressCheck(), "progress position = 341");
    progressStep();
    EXPECT_FLOAT_EQ(progress().barEnd, 2.0f * 341 / 342 - 1.0f);
    EXPECT_EQ(progressCheck(), "");
    progressStep();
    EXPECT_FLOAT_EQ(progress().barEnd, 1.0f) << "the step after the check draws the bar full";
    EXPECT_EQ(progressCheck(), "progress position = 343");
}
