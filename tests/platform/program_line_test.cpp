// How a command line names its program, its arguments and the folder it starts in, as
// CreateProcess reads it; the same on both hosts.
#include "platform/program_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

namespace quenbrook {
namespace {

struct Row {
    const char* name;
    std::string line;
    std::set<std::string> files;  // the files that exist
    std::string program, arguments, folder, commandLine;
    bool found;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class ProgramLineRead : public ::testing::TestWithParam<Row> {};

TEST_P(ProgramLineRead, AsCreateProcessReadsIt) {
    const Row& row = GetParam();
    const ProgramLine line = SplitProgramLine(
        row.line, [&](const std::string& file) { return row.files.count(file) > 0; });
    EXPECT_EQ(line.program, row.program);
    EXPECT_EQ(line.arguments, row.arguments);
    EXPECT_EQ(line.folder, row.folder);
    EXPECT_EQ(line.commandLine, row.commandLine);
    EXPECT_EQ(line.found, row.found);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgramLineRead,
    ::testing::Values(
        Row{"QuotedWithBlanks", R"("C:\Program Files\Civ 2\Civ2.exe" -x)", {R"(C:\Program Files\Civ 2\Civ2.exe)"},
            R"(C:\Program Files\Civ 2\Civ2.exe)", "-x", R"(C:\Program Files\Civ 2)",
            R"("C:\Program Files\Civ 2\Civ2.exe" -x)", true},
        Row{"UnquotedBlankAndArgument", R"(C:\Games\Civ Two\Civ2.exe -nosound)", {R"(C:\Games\Civ Two\Civ2.exe)"},
            R"(C:\Games\Civ Two\Civ2.exe)", "-nosound", R"(C:\Games\Civ Two)",
            R"("C:\Games\Civ Two\Civ2.exe" -nosound)", true},
        Row{"ShortestExistingPrefixWins", R"(C:\Program Files\a.exe)", {R"(C:\Program)", R"(C:\Program Files\a.exe)"},
            R"(C:\Program)", R"(Files\a.exe)", R"(C:\)", R"("C:\Program" Files\a.exe)", true},
        Row{"ExeAddedToABareStem", "C:\\Civ2\\civ2\t-x", {R"(C:\Civ2\civ2.exe)"},
            R"(C:\Civ2\civ2.exe)", "-x", R"(C:\Civ2)", R"("C:\Civ2\civ2.exe" -x)", true},
        Row{"MissingWithBlanksNamesWholePath", R"(C:\Program Files\Civ 3\Civ2.exe)", {},
            R"(C:\Program Files\Civ 3\Civ2.exe)", "", R"(C:\Program Files\Civ 3)",
            R"("C:\Program Files\Civ 3\Civ2.exe")", false},
        Row{"MissingWithArgumentKeepsIt", R"(C:\Program Files\Civ 3\Civ2.exe -x)", {},
            R"(C:\Program Files\Civ 3\Civ2.exe)", "-x", R"(C:\Program Files\Civ 3)",
            R"("C:\Program Files\Civ 3\Civ2.exe" -x)", false},
        Row{"DriveRoot", R"(C:\civ2.exe)", {R"(C:\civ2.exe)"}, R"(C:\civ2.exe)", "", R"(C:\)",
            R"("C:\civ2.exe")", true},
        Row{"DriveRelative", "D:civ2.exe", {}, "D:civ2.exe", "", "D:", R"("D:civ2.exe")", false},
        Row{"Empty", "", {}, "", "", "", "", false}));

}  // namespace
}  // namespace quenbrook
