// How a command line names its program, its arguments and the folder it starts in, as
// CreateProcess reads it; the same on both hosts.
#include "platform/program_line.h"

#include <gtest/gtest.h>

#include <string>

#include "support/cases.h"

namespace quenbrook {
namespace {

class ProgramLineRead : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProgramLineRead, AsCreateProcessReadsIt) {
    const auto& row = GetParam();
    const std::string files = row[1].empty() ? "" : "|" + row[1] + "|";
    const ProgramLine line =
        SplitProgramLine(row[0], [&](const std::string& file) { return files.find("|" + file + "|") != std::string::npos; });
    EXPECT_EQ(line.program, row[2]);
    EXPECT_EQ(line.arguments, row[3]);
    EXPECT_EQ(line.folder, row[4]);
    EXPECT_EQ(line.commandLine, row[5]);
    EXPECT_EQ(line.found ? "yes" : "no", row[6]);
}
INSTANTIATE_CASES(ProgramLineRead, "program_line");

}  // namespace
}  // namespace quenbrook
