// Form1's handlers driven through the recording fake. Each row starts the window, does
// what a user does, and compares everything the platform and the view heard, in order
// (reads left out), with a transcript written out here, message texts included.
#include "main_window/form1.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace quenbrook {
namespace {

using testing::FakePlatform;
using Lines = std::vector<std::string>;

const std::string kDone1 =
    "message Quenbrook: You just edited your civ.ini file and added 'Simultaneous=1'.  This will allow you to "
    "select simultaneous turns when you start your next multiplayer game.  But it will reset after the game. "
    "If you want it to stay forever, use the other button.";
const std::string kDone6 =
    "message Quenbrook: You just edited your civ.ini file and added 'Simultaneous=1'.  This will allow you to "
    "select simultaneous turns when you start any multiplayer game.  It also set the file to 'Read Only'.  "
    "To turn off 'Read Only' then press the 'Return To Normal Atributes'.";
const std::string kHelp1 =
    "message Quenbrook: Pressing this button will edit your civ.ini file and will allow you to select "
    "simultaneous turns, when you start your next game (Multiplayer).  But it will reset after the game. "
    "If you want it to stay, use the other button.";
const std::string kHelp6 =
    "message Quenbrook: Pressing this button will edit your civ.ini file and will allow you to select "
    "simultaneous turns, when you start your next game (Multiplayer).  It will also set the civ.ini file "
    "to 'Read Only'.  This makes it so that Civ 2 won't erase the option when you quit the game.  Meaning "
    "you only have to do this once!!!";
const std::string kIdea = "http://www.example.org/Forum3/HTML/000051.html";
const std::string kSet = "write Civilization Gold/Simultaneous=1";
const std::string kNotChanged =
    "message Quenbrook: Your civ.ini file could not be changed, so simultaneous turns are not set.\r\n\r\n";

class RecordingView : public Form1View {
public:
    explicit RecordingView(Lines& calls) : calls_(calls) {}
    void SetCiv2Text(const std::wstring& text) override { calls_.push_back("view text " + testing::Narrow(text)); }
    void SetCommand7Enabled(bool on) override { calls_.push_back(on ? "view launch on" : "view launch off"); }

private:
    Lines& calls_;
};

struct Row {
    const char* name;
    const wchar_t* storedPath;  // Path in [Civ2] before the start, or nullptr
    std::function<void(Form1&, FakePlatform&)> act;
    Lines expected;  // after the start's "view text <stored path>"
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Form1Handlers : public ::testing::TestWithParam<Row> {};
TEST_P(Form1Handlers, Transcript) {
    FakePlatform fake;
    RecordingView view(fake.calls);
    Form1 form(fake, fake, view);
    if (GetParam().storedPath) fake.files[L"c:\\windows\\civ.ini"][L"civ2"][L"path"] = GetParam().storedPath;
    form.Form_Load();
    GetParam().act(form, fake);
    Lines seen;
    for (const std::string& call : fake.calls)
        if (!call.starts_with("read ")) seen.push_back(call);
    Lines expected = {"view text " + (GetParam().storedPath ? testing::Narrow(GetParam().storedPath) : "")};
    expected.insert(expected.end(), GetParam().expected.begin(), GetParam().expected.end());
    EXPECT_EQ(seen, expected);
}

const auto Click = [](std::initializer_list<void (Form1::*)()> handlers) {
    // A copy: the list's own array ends with the row's expression.
    return [steps = std::vector(handlers)](Form1& f, FakePlatform&) { for (auto h : steps) (f.*h)(); };
};

INSTANTIATE_TEST_SUITE_P(Rows, Form1Handlers, ::testing::Values(
    Row{"LaunchFollowsThePathBoxBlanksIncluded", nullptr, [](Form1& f, FakePlatform&) {
            for (const wchar_t* text : {L"C", L"", L"   "}) f.civ2_Edited(text);
        }, {"view launch on", "view launch off", "view launch on"}},
    Row{"PlainDoItWritesThenConfirms", nullptr, Click({&Form1::Command1_Click}), {kSet, kDone1}},
    Row{"LockingDoItLocksAfterTheMessageEachTime", nullptr, Click({&Form1::Command6_Click, &Form1::Command6_Click}),
        {kSet, kDone6, "attributes 1", kSet, kDone6, "attributes 1"}},
    Row{"DoItOnALockedFileSaysWhyAndWhichFile", nullptr, [](Form1& f, FakePlatform& p) {
            p.attributes[L"c:\\windows\\civ.ini"] = kAttributeReadOnly;
            f.Command1_Click();
            f.Command6_Click();
        }, {kSet, kNotChanged + "Reason: civ.ini is read-only\r\nFile: /host/C:\\Windows\\civ.ini",
            kSet, kNotChanged + "Reason: civ.ini is read-only\r\nFile: /host/C:\\Windows\\civ.ini"}},
    Row{"FailedOrVanishedWriteIsNeverConfirmed", nullptr, [](Form1& f, FakePlatform& p) {
            p.writeFailure = L"there is no Wine prefix at /home/u/.wine";
            f.Command1_Click();
            p.writeFailure.reset();
            p.writesVanish = true;
            f.Command6_Click();
        }, {kSet, kNotChanged + "Reason: there is no Wine prefix at /home/u/.wine\r\nFile: /host/C:\\Windows\\civ.ini",
            kSet, kNotChanged + "Reason: the file did not keep the change\r\nFile: /host/C:\\Windows\\civ.ini"}},
    Row{"LockUnlockThenPlainDoIt", nullptr,
        Click({&Form1::Command6_Click, &Form1::Command5_Click, &Form1::Command1_Click}),
        {kSet, kDone6, "attributes 1", "attributes 128", kSet, kDone1}},
    Row{"AttributeFailuresAreSaid", nullptr, [](Form1& f, FakePlatform& p) {
            p.attributeFailure = L"c:\\windows\\civ.ini does not exist";
            f.Command5_Click();
            f.Command6_Click();
        }, {"attributes 128",
            "message Quenbrook: civ.ini could not be returned to normal attributes.\r\n\r\nReason: c:\\windows\\civ.ini does "
            "not exist\r\nFile: /host/c:\\windows\\civ.ini",
            kSet, kDone6, "attributes 1",
            "message Quenbrook: civ.ini could not be set to 'Read Only'.\r\n\r\nReason: c:\\windows\\civ.ini does not "
            "exist\r\nFile: /host/c:\\windows\\civ.ini"}},
    Row{"HelpButtonsOnlyExplain", nullptr, Click({&Form1::Command3_Click, &Form1::Command9_Click}), {kHelp1, kHelp6}},
    Row{"ViewOpensCivIniAndAFailingEditorIsSaidLater", nullptr, [](Form1& f, FakePlatform& p) {
            f.Command2_Click();
            p.editorFailure = L"xdg-open is not installed";
            p.answerLater = true;
            f.Command2_Click();
            p.calls.push_back("(the editor answers)");
            p.RunPending();
        }, {"edit c:\\windows\\civ.ini", "edit c:\\windows\\civ.ini", "(the editor answers)",
            "message Quenbrook: civ.ini could not be opened in the text editor.\r\n\r\nReason: xdg-open is not "
            "installed\r\nFile: /host/c:\\windows\\civ.ini"}},
    Row{"BrowseStartsAtThePathAndSavesThePick", L"C:\\OLD\\CIV2.EXE", [](Form1& f, FakePlatform& p) {
            p.dialogAnswers = {L"C:\\MPS\\CIV2\\CIV2.EXE"};
            f.Command10_Click();
        }, {"view launch on", "dialog Civ 2 (Civ2.exe)|Civ2.exe| at C:\\OLD\\CIV2.EXE",
            "view text C:\\MPS\\CIV2\\CIV2.EXE", "view launch on", "write Civ2/Path=C:\\MPS\\CIV2\\CIV2.EXE"}},
    Row{"CancelledBrowseChangesNothing", nullptr, [](Form1& f, FakePlatform& p) {
            p.dialogAnswers = {std::nullopt, std::nullopt};
            f.Command10_Click();
            f.civ2_Edited(L"D:\\typed\\civ2.exe");
            f.Command10_Click();
        }, {"dialog Civ 2 (Civ2.exe)|Civ2.exe| at ", "view launch on",
            "dialog Civ 2 (Civ2.exe)|Civ2.exe| at D:\\typed\\civ2.exe"}},
    Row{"LaunchStartsTheGameInItsFolderSavesAndEnds", nullptr, [](Form1& f, FakePlatform&) {
            f.civ2_Edited(L"C:\\MPS\\CIV2\\CIV2.EXE");
            f.Command7_Click();
        // The busy pointer covers the watch of the started game.
        }, {"view launch on", "pointer 11", "start C:\\MPS\\CIV2\\CIV2.EXE style 3 in its folder",
            "pointer 0", "write Civ2/Path=C:\\MPS\\CIV2\\CIV2.EXE", "end"}},
    Row{"GameThatCannotStartIsSaidAndNothingSaved", L"C:\\nowhere\\CIV2.EXE", [](Form1& f, FakePlatform& p) {
            p.startFailure = L"C:\\nowhere\\CIV2.EXE does not exist";
            f.Command7_Click();
        }, {"view launch on", "pointer 11", "start C:\\nowhere\\CIV2.EXE style 3 in its folder",
            "pointer 0", "message Quenbrook: Civ 2 could not be started.\r\n\r\nReason: C:\\nowhere\\CIV2.EXE does not exist"}},
    Row{"CloseBoxSavesNothingExitSavesThePath", L"C:\\OLD\\CIV2.EXE", [](Form1& f, FakePlatform&) {
            f.civ2_Edited(L"C:\\NEW\\CIV2.EXE");
            f.Form_QueryUnload();
            f.Command4_Click();
        }, {"view launch on", "view launch on", "end", "write Civ2/Path=C:\\NEW\\CIV2.EXE", "end"}},
    Row{"PathRefusedByALockedFileIsSilentOtherFailuresAreSaid", nullptr, [](Form1& f, FakePlatform& p) {
            p.attributes[L"c:\\windows\\civ.ini"] = kAttributeReadOnly;
            f.Command4_Click();
            p.attributes.clear();
            p.writeFailure = L"the disk is full";
            f.Command4_Click();
        }, {"write Civ2/Path=", "end", "write Civ2/Path=",
            "message Quenbrook: The game's location could not be saved in civ.ini.\r\n\r\nReason: the disk is "
            "full\r\nFile: /host/C:\\Windows\\civ.ini", "end"}},
    Row{"LinksOpenWithABusyPointer", nullptr, Click({&Form1::Label2_Click, &Form1::Label3_Click}),
        {"pointer 11", "shell mailto:quenbrook@example.org", "pointer 0", "pointer 11", "shell " + kIdea, "pointer 0"}},
    Row{"ShellResult32FailsWithTheErrorCode", nullptr, [](Form1& f, FakePlatform& p) {
            p.shellAnswer = {32, 1155};
            f.Label3_Click();
        }, {"pointer 11", "shell " + kIdea, "pointer 0",
            "message ExecuteLink: error Opening Link to " + kIdea + "\r\n\r\n1155", "pointer 0"}},
    Row{"ShellResult0AndAShellThatCannotRunFail", nullptr, [](Form1& f, FakePlatform& p) {
            p.shellAnswer = {0, 2};
            f.Label2_Click();
            p.shellThrows = true;
            f.Label2_Click();
        }, {"pointer 11", "shell mailto:quenbrook@example.org", "pointer 0",
            "message ExecuteLink: error Opening Link to mailto:quenbrook@example.org\r\n\r\n2", "pointer 0",
            "pointer 11", "shell mailto:quenbrook@example.org", "pointer 0",
            "message ExecuteLink: error Opening Link to mailto:quenbrook@example.org\r\n\r\n0", "pointer 0"}},
    Row{"PointerBusyUntilTheShellAnswers", nullptr, [](Form1& f, FakePlatform& p) {
            p.answerLater = true;
            f.Label3_Click();
            p.calls.push_back("(the shell answers)");
            p.RunPending();
        }, {"pointer 11", "shell " + kIdea, "(the shell answers)", "pointer 0"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenbrook
