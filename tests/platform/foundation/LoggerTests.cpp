#include "CommaLocale.hpp"
#include "foundation/LogCapture.hpp"
#include "foundation/Logger.hpp"

#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

using namespace velmora;

TEST(Logger, CaptureSeesEveryLevelWithSubsystemAndCategory) {
    const Logger logger("com.example.test", "Device Input");
    LogCapture capture;
    logger.log("Ignoring pointer event at %dx%d coming from %{public}@", 3, 4, "mouse");
    logger.debug("debug %d", 1);
    logger.info("info %d", 2);
    logger.error("Error loading brush @ \"%{public}@\": %{public}@", "/b/x.vmbrush", "bad");
    logger.fault("fault");
    const std::vector<LogRecord> expected = {
        {"com.example.test", "Device Input", LogLevel::defaultLevel,
         "Ignoring pointer event at 3x4 coming from mouse"},
        {"com.example.test", "Device Input", LogLevel::debug, "debug 1"},
        {"com.example.test", "Device Input", LogLevel::info, "info 2"},
        {"com.example.test", "Device Input", LogLevel::error,
         "Error loading brush @ \"/b/x.vmbrush\": bad"},
        {"com.example.test", "Device Input", LogLevel::fault, "fault"},
    };
    EXPECT_EQ(capture.records(), expected);
}

TEST(Logger, CaptureEndsWithItsScopeAndFiltersByCategory) {
    const Logger a("s", "A");
    const Logger b("s", "B");
    std::vector<std::string> seen;
    {
        LogCapture capture;
        a.log("one");
        b.log("two");
        a.log("three");
        seen = capture.messages("A");
        capture.clear();
        EXPECT_TRUE(capture.records().empty());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "three"}));
    LogCapture later;
    a.log("after");
    EXPECT_EQ(later.messages("A"), std::vector<std::string>{"after"});
}

TEST(Logger, LinesFromManyThreadsAreAllKeptWhole) {
    const Logger logger("s", "Threads");
    LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 200; ++i) {
                logger.log("thread %d line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto messages = capture.messages("Threads");
    ASSERT_EQ(messages.size(), 800u);
    EXPECT_EQ(std::set<std::string>(messages.begin(), messages.end()).size(), 800u);
}

TEST(Logger, NumbersKeepADecimalPointUnderACommaLocale) {
    const Logger logger("s", "Locale");
    LogCapture capture;
    const CommaLocale locale;
    ASSERT_TRUE(locale.active()) << "no locale with a decimal comma could be made";
    logger.log("Opacity changed from %f to %.1f", 0.25, 1.5);
    EXPECT_EQ(capture.messages("Locale"),
              std::vector<std::string>{"Opacity changed from 0.250000 to 1.5"});
}

TEST(Signposts, NothingIsRecordedWhileNobodyListens) {
    const Logger logger("s", "Signposts");
    EXPECT_FALSE(Logger::signpostsRecorded());
    logger.signpost(SignpostType::event, "Queued Dots", OSSignpostID::exclusive, "%d", 3);
    SignpostRecorder recorder;
    EXPECT_TRUE(Logger::signpostsRecorded());
    EXPECT_TRUE(recorder.records().empty());
}

TEST(Signposts, IntervalsAndEventsAreRecordedInOrder) {
    const Logger logger("com.example.test", "User Actions");
    SignpostRecorder recorder;
    const OSSignpostID first(logger);
    const OSSignpostID second(logger);
    EXPECT_NE(first, second);
    EXPECT_NE(first, OSSignpostID::exclusive);
    EXPECT_NE(first, OSSignpostID::null);
    EXPECT_NE(first, OSSignpostID::invalid);

    logger.signpost(SignpostType::begin, "Stroke Drawing", first,
                    "%{public}@ Started at %{public}@", "Stroke", "(1.0, 2.0)");
    logger.signpost(SignpostType::event, "Queued Dots", OSSignpostID::exclusive, "%d", 0);
    logger.signpost(SignpostType::end, "Stroke Drawing", first, "Stroke Ended");
    const std::vector<SignpostRecord> expected = {
        {"com.example.test", "User Actions", SignpostType::begin, "Stroke Drawing", first,
         "Stroke Started at (1.0, 2.0)"},
        {"com.example.test", "User Actions", SignpostType::event, "Queued Dots",
         OSSignpostID::exclusive, "0"},
        {"com.example.test", "User Actions", SignpostType::end, "Stroke Drawing", first,
         "Stroke Ended"},
    };
    EXPECT_EQ(recorder.records(), expected);
}
