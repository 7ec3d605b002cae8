#include "CommaLocale.hpp"
#include "foundation/ByteCount.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/ErrorDescription.hpp"
#include "foundation/LogCapture.hpp"
#include "foundation/LogHandles.hpp"

#include <cstdint>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace velmora;

TEST(ByteCount, UnitsComeFromTheLogarithmAndRoundingAfterwards) {
    const std::vector<std::pair<std::uint64_t, const char*>> cases = {
        {0, "0 B"},
        {1, "1 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1048575, "1024.0 KiB"},
        {1048576, "1.0 MiB"},
        {1073741824, "1.0 GiB"},
        {1073741823, "1024.0 MiB"},
        {1610612736, "1.5 GiB"},
        {1099511627776, "1.0 TiB"},
        {1125899906842624, "1.0 PiB"},
        {1152921504606846976, "1.0 EiB"},
        {std::numeric_limits<std::uint64_t>::max(), "16.0 EiB"},
    };
    for (const auto& [count, text] : cases) {
        EXPECT_EQ(formattedByteCount(count), text) << count;
    }
}

TEST(ByteCount, DecimalPointUnderACommaLocale) {
    const CommaLocale locale;
    ASSERT_TRUE(locale.active()) << "no locale with a decimal comma could be made";
    EXPECT_EQ(formattedByteCount(1536), "1.5 KiB");
    EXPECT_EQ(formattedByteCount(1048575), "1024.0 KiB");
    EXPECT_EQ(formattedByteCount(std::numeric_limits<std::uint64_t>::max()), "16.0 EiB");
}

TEST(LogHandles, ShareTheSubsystemWithThreeCategoriesAndStayTheSame) {
    const Logger* handles[] = {&userActionsLogs(), &renderingStatisticsLogs(),
                               &drawingEngineLogs()};
    const char* categories[] = {"User Actions", "Rendering Statistics", "Drawing Engine"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(handles[i]->subsystem(), "com.tovik.Velmora");
        EXPECT_EQ(handles[i]->category(), categories[i]);
    }
    EXPECT_EQ(&userActionsLogs(), handles[0]);
    EXPECT_EQ(&renderingStatisticsLogs(), handles[1]);
    EXPECT_EQ(&drawingEngineLogs(), handles[2]);

    LogCapture capture;
    userActionsLogs().log("Active layer is now %{public}@", "Background");
    EXPECT_EQ(capture.records(),
              (std::vector<LogRecord>{{"com.tovik.Velmora", "User Actions", LogLevel::defaultLevel,
                                       "Active layer is now Background"}}));
}

TEST(LogHandles, FirstUseFromManyThreadsGivesOneHandle) {
    std::vector<std::future<const Logger*>> results;
    for (int i = 0; i < 8; ++i) {
        std::promise<const Logger*> promise;
        results.push_back(promise.get_future());
        DispatchQueue::global().async([p = std::make_shared<std::promise<const Logger*>>(std::move(
                                           promise))] { p->set_value(&drawingEngineLogs()); });
    }
    for (auto& result : results) {
        EXPECT_EQ(result.get(), &drawingEngineLogs());
    }
}

namespace {

class DocumentError : public std::runtime_error, public DescribedError {
public:
    DocumentError() : std::runtime_error("document") {}
    ErrorDescription errorDescription() const override {
        return ErrorDescription("Cannot open the document", "It is damaged.");
    }
};

} // namespace

TEST(ErrorDescription, EqualOnlyWhenBothTextsAre) {
    EXPECT_EQ(ErrorDescription("A", "B"), ErrorDescription("A", "B"));
    EXPECT_NE(ErrorDescription("A", "B"), ErrorDescription("A", "C"));
    EXPECT_NE(ErrorDescription("A", "B"), ErrorDescription("X", "B"));
    ErrorDescription d("A", "B");
    d.informativeText = "C";
    EXPECT_EQ(d, ErrorDescription("A", "C"));
}

TEST(ErrorDescription, DescribedErrorsAreFoundAmongCaughtExceptions) {
    auto describe = [](const std::exception& e) -> std::optional<ErrorDescription> {
        if (const auto* described = dynamic_cast<const DescribedError*>(&e)) {
            return described->errorDescription();
        }
        return std::nullopt;
    };
    EXPECT_EQ(describe(DocumentError()),
              ErrorDescription("Cannot open the document", "It is damaged."));
    EXPECT_EQ(describe(std::runtime_error("plain")), std::nullopt);
}
