// How a command line names its program and the folder the program starts in.
#include "platform/win32/program_line.h"

#include <gtest/gtest.h>

#include <set>

namespace quenbrook {
namespace {

struct Files {
    std::set<std::string> existing;
    bool operator()(const std::string& f) const { return existing.count(f) > 0; }
};

TEST(ProgramLineTest, FirstWordByWindowsRules) {
    const Files none;
    const struct {
        std::string line, commandLine, program, folder;
    } cases[] = {
        {R"(C:\Civ2\civ2.exe)", R"(C:\Civ2\civ2.exe)", R"(C:\Civ2\civ2.exe)", R"(C:\Civ2)"},
        {R"(C:\Civ2\civ2.exe -fast)", R"(C:\Civ2\civ2.exe -fast)", R"(C:\Civ2\civ2.exe)", R"(C:\Civ2)"},
        {"C:\\Civ2\\civ2.exe\t-x", "C:\\Civ2\\civ2.exe\t-x", R"(C:\Civ2\civ2.exe)", R"(C:\Civ2)"},
        {R"("C:\Program Files\Civ2\civ2.exe" -x)", R"("C:\Program Files\Civ2\civ2.exe" -x)",
         R"(C:\Program Files\Civ2\civ2.exe)", R"(C:\Program Files\Civ2)"},
        // An unquoted path with a blank that names no file ends at the blank.
        {R"(C:\Program Files\Civ2\civ2.exe)", R"(C:\Program Files\Civ2\civ2.exe)", R"(C:\Program)", R"(C:\)"},
        {R"("C:\Civ2\civ2.exe)", R"("C:\Civ2\civ2.exe)", R"(C:\Civ2\civ2.exe)", R"(C:\Civ2)"},
        {R"(C:\civ2.exe)", R"(C:\civ2.exe)", R"(C:\civ2.exe)", R"(C:\)"},
        {"civ2.exe", "civ2.exe", "civ2.exe", ""},
        {"D:civ2.exe", "D:civ2.exe", "D:civ2.exe", "D:"},
        {"C:/Civ2/civ2.exe", "C:/Civ2/civ2.exe", "C:/Civ2/civ2.exe", "C:/Civ2"},
    };
    for (const auto& c : cases) {
        const ProgramLine line = SplitProgramLine(c.line, none);
        EXPECT_EQ(line.commandLine, c.commandLine) << c.line;
        EXPECT_EQ(line.program, c.program) << c.line;
        EXPECT_EQ(line.folder, c.folder) << c.line;
    }
}

TEST(ProgramLineTest, WholeTextNamingAFileIsQuotedSoItsBlanksStay) {
    const Files files{{R"(C:\Program Files\Civ2\civ2.exe)"}};
    const ProgramLine line = SplitProgramLine(R"(C:\Program Files\Civ2\civ2.exe)", files);
    EXPECT_EQ(line.commandLine, R"("C:\Program Files\Civ2\civ2.exe")");
    EXPECT_EQ(line.program, R"(C:\Program Files\Civ2\civ2.exe)");
    EXPECT_EQ(line.folder, R"(C:\Program Files\Civ2)");
    // With arguments the whole text names no file: Windows' rules again.
    const ProgramLine withArgument = SplitProgramLine(R"(C:\Program Files\Civ2\civ2.exe -x)", files);
    EXPECT_EQ(withArgument.program, R"(C:\Program)");
}

TEST(ProgramLineTest, EmptyLineNamesNothing) {
    const ProgramLine line = SplitProgramLine("", Files{});
    EXPECT_TRUE(line.program.empty());
    EXPECT_TRUE(line.folder.empty());
}

}  // namespace
}  // namespace quenbrook
