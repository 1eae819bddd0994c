// The log function: callback versus standard output, formatting limits, and
// the exception's message limit.
#include <gtest/gtest.h>

#include <string>

#include "core/Log.h"
#include "core/VOKException.h"
#include "support/TestSupport.h"

namespace vok {
namespace {

TEST(Log, WithoutCallbackWritesFormattedTextToStandardOutput) {
    vok_set_log_function(nullptr);
    testing::internal::CaptureStdout();
    log("Missing %d samples. Inserting dummy samples \n", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Missing 3 samples. Inserting dummy samples \n");
}

TEST(Log, CallbackReceivesEachTextOnceAndStandardOutputNothing) {
    test::LogCapture capture;
    testing::internal::CaptureStdout();
    log("a %s\n", "b");
    log("%d-%d\n", 1, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], "a b\n");
    EXPECT_EQ(capture.lines()[1], "1-2\n");
}

TEST(Log, DirectLinesBypassTheCallback) {
    test::LogCapture capture;
    testing::internal::CaptureStdout();
    printDirect("loadEvents = %x\n", 26u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "loadEvents = 1a\n");
    EXPECT_TRUE(capture.lines().empty());
}

TEST(Log, LongTextIsCutTo511Characters) {
    test::LogCapture capture;
    std::string longText(2000, 'x');
    log("%s", longText.c_str());
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], std::string(511, 'x'));
}

TEST(VOKExceptionTest, FormatsAndCutsAt1023Characters) {
    VOKException e("value %d of %s", 7, "eight");
    EXPECT_STREQ(e.what(), "value 7 of eight");
    std::string longText(5000, 'y');
    VOKException big("%s", longText.c_str());
    EXPECT_EQ(std::string(big.what()), std::string(1023, 'y'));
}

}  // namespace
}  // namespace vok
