// Whether a started game counts as started: Wine is watched, and its failure comes back
// in its own words. A shell script stands in for Wine here.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/linux_system.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {
namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

struct Row {
    const char* name;
    std::string wine;         // the stand-in Wine's script after #!/bin/sh
    std::vector<const char*> libs;  // files made in lib/wine beside it
    bool started;
    std::vector<std::wstring> said, unsaid;  // in the failure's reason, and not in it
    std::string log;                          // the game log's text, when checked
};

class WatchTest : public ::testing::TestWithParam<Row> {};

TEST_P(WatchTest, StartedOrWhyNot) {
    const Row& r = GetParam();
    testing::TempDir temp;
    fs::create_directories(temp / "prefix" / "drive_c");
    // A 32-bit PE header: "MZ", the PE header's offset 0x40, "PE\0\0" and machine 0x14c.
    std::string exe(0x46, '\0');
    exe[0] = 'M', exe[1] = 'Z', exe[0x3c] = 0x40;
    exe.replace(0x40, 6, std::string("PE\0\0\x4c\x01", 6));
    WriteFile(temp / "prefix" / "drive_c" / "civ2.exe", exe);
    fs::create_directories(temp / "bin");
    fs::create_directories(temp / "lib" / "wine");
    for (const char* lib : r.libs) WriteFile(temp / "lib" / "wine" / lib, "");
    WriteFile(temp / "bin" / "wine", "#!/bin/sh\ntouch \"$0.ran\"\n" + r.wine + "\n");
    chmod((temp / "bin" / "wine").c_str(), 0755);
    setenv("WINE", (temp / "bin" / "wine").c_str(), 1);
    setenv("XDG_STATE_HOME", (temp / "state").c_str(), 1);

    const Status status =
        LinuxSystem(temp / "prefix", nullptr).StartProgram(L"C:\\civ2.exe", 3, true);
    unsetenv("WINE");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(status.ok(), r.started) << status.reason();
    for (const std::wstring& part : r.said)
        EXPECT_NE(status.reason().find(part), std::wstring::npos) << status.reason();
    for (const std::wstring& part : r.unsaid)
        EXPECT_EQ(status.reason().find(part), std::wstring::npos) << status.reason();
    if (!r.log.empty()) {
        EXPECT_EQ(ReadFile(temp / "state" / "quenbrook" / "game.log"), r.log);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wine, WatchTest,
    ::testing::Values(
        Row{"FailsAtOnce", "echo 'wine: could not load kernel32.dll, status c0000135' >&2; exit 5",
            {}, false, {L"status 5", L"wine: could not load kernel32.dll, status c0000135"}, {}, ""},
        Row{"NotesLeftOutBesideWords",
            "echo '0024:err:module:import_dll Library X not found' >&2; "
            "printf '%s\\n' 'wine: Bad EXE format for Z:\\civ2.exe.' >&2; exit 1",
            {}, false, {L"wine: Bad EXE format for Z:\\civ2.exe."}, {L"err:module"}, ""},
        Row{"NotesKeptWhenAlone", "echo '0024:err:module:import_dll Library X not found' >&2; exit 1",
            {}, false, {L"0024:err:module:import_dll Library X not found"}, {}, ""},
        Row{"KilledBySignal", "kill -9 $$", {}, false, {L"signal 9"}, {}, ""},
        Row{"EndsWell", "echo out; echo err >&2; exit 0", {}, true, {}, {}, "out\nerr\n"},
        Row{"RunsOn", "exec sleep 4", {}, true, {}, {}, ""},
        Row{"Wine64Alone", "exit 0", {"wine64"}, false,
            {L"32-bit", L"dpkg --add-architecture i386 && apt-get update && apt-get install "
                        L"wine32:i386"},
            {}, ""},
        Row{"Wine64AndWine32", "exit 0", {"wine64", "wine"}, true, {}, {}, ""}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenbrook
