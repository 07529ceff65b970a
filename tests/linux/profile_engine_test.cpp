// The engine on bytes in memory: what the game reads, what a write changes, and which
// arguments are refused. Writes on whole files are the golden files' job.
#include "platform/linux/profile_engine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/cases.h"

namespace quenbrook {
namespace {

class ProfileRead : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileRead, AsTheGameReadsIt) {
    const auto& row = GetParam();
    const auto value = FindProfileValue(row[0], row[1], row[2]);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, row.at(3));
}
INSTANTIATE_CASES(ProfileRead, "profile_read");

class ProfileWrite : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileWrite, PlansTheEditOrSaysWhyNot) {
    const auto& row = GetParam();
    const Status check = CheckProfileWrite(row[1], row[2], row[3]);
    EXPECT_EQ(check.ok() ? std::nullopt : std::optional(check.reason()),
              row.at(5) ? std::optional(row.wide(5)) : std::nullopt);
    if (!check.ok()) return;
    const auto edit = PlanProfileWrite(row[0], row[1], row[2], row[3]);
    EXPECT_EQ(edit ? std::optional(ApplyProfileEdit(row[0], *edit)) : std::nullopt, row.at(4));
}
INSTANTIATE_CASES(ProfileWrite, "profile_write");

}  // namespace
}  // namespace quenbrook
