#include "platform/error_or.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace bv {

namespace {

using platform::Error;
using platform::ErrorKind;
using platform::ErrorOr;

ErrorOr<int> parsed(const std::string& text)
{
    if (text.empty())
        return Error(22, "parse", ErrorKind::CouldNotOpen);
    return static_cast<int>(text.size());
}

ErrorOr<std::unique_ptr<int>> doubled(const std::string& text)
{
    const int value = TRY(parsed(text));
    return std::make_unique<int>(value * 2);
}

ErrorOr<void> checked(const std::string& text)
{
    TRY(doubled(text));
    return {};
}

struct Refusal {
    int first;
    int second;
};

ErrorOr<int, Refusal> refused(bool refuse)
{
    if (refuse)
        return Refusal { 1, 2 };
    return 7;
}

}  // namespace

TEST(ErrorOr, TryPassesTheErrorUpUnchangedAndGivesTheValue)
{
    const auto good = doubled("abc");
    ASSERT_FALSE(good.is_error());
    EXPECT_EQ(*good.value(), 6);
    EXPECT_FALSE(checked("abc").is_error());

    // Through two TRYs the kind, code and text are the first failure's.
    const auto bad = checked("");
    ASSERT_TRUE(bad.is_error());
    EXPECT_EQ(bad.error().code(), 22);
    EXPECT_EQ(bad.error().text(), "parse");
    EXPECT_TRUE(bad.error().is(ErrorKind::CouldNotOpen));
    EXPECT_FALSE(bad.error().is(ErrorKind::Other));

    // An error type of the caller's own.
    EXPECT_EQ(refused(false).value(), 7);
    ASSERT_TRUE(refused(true).is_error());
    EXPECT_EQ(refused(true).error().second, 2);

    // The message adds the system's words only where there is a code.
    EXPECT_EQ(Error(0, "no IPv4 address").message(), "no IPv4 address");
    EXPECT_NE(Error(2, "open").message().find("open: "), std::string::npos);
}

}  // namespace bv
