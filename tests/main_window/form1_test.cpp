// Form1's handlers driven through the recording fake: what the user sees, what lands
// in civ.ini, and in which order.
#include "main_window/form1.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "links/execute_link.h"
#include "main_window/layout.h"
#include "support/fake_platform.h"

namespace quenbrook {
namespace {

using testing::FakePlatform;

const std::wstring kIni = L"c:\\windows\\civ.ini";  // the fake folds case, as Windows does

class RecordingView : public Form1View {
public:
    void SetCiv2Text(const std::wstring& text) override { shownText = text; ++textSets; }
    void SetCommand7Enabled(bool enabled) override { launchEnabled = enabled; }
    std::wstring shownText;
    int textSets = 0;
    bool launchEnabled = false;
};

class Form1Test : public ::testing::Test {
protected:
    void StorePath(const std::wstring& path) { fake.files[kIni][L"civ2"][L"path"] = path; }
    std::optional<std::wstring> Stored(const wchar_t* section, const wchar_t* key) {
        auto& f = fake.files[kIni];
        auto s = f.find(section);
        if (s == f.end()) return std::nullopt;
        auto k = s->second.find(key);
        if (k == s->second.end()) return std::nullopt;
        return k->second;
    }
    int Writes() const {
        return static_cast<int>(std::count_if(fake.calls.begin(), fake.calls.end(),
                                              [](const std::string& c) { return c.starts_with("write"); }));
    }
    void Load() {
        form.Form_Load();
        fake.calls.clear();
    }

    FakePlatform fake;
    RecordingView view;
    Form1 form{fake, fake, view};
};

TEST_F(Form1Test, StartUpWithoutCivIniShowsEmptyPathAndCreatesNothing) {
    form.Form_Load();
    EXPECT_EQ(form.settings().IniFilePath(), L"C:\\Windows\\civ.ini");
    EXPECT_EQ(form.civ2(), L"");
    EXPECT_FALSE(form.command7Enabled());
    EXPECT_FALSE(view.launchEnabled);
    EXPECT_EQ(form.commonDialogFilter(), L"Civ 2 (Civ2.exe)|Civ2.exe|");
    EXPECT_EQ(Writes(), 0);
    EXPECT_TRUE(fake.files.empty());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(Form1Test, StartUpShowsStoredPathWholeAndEnablesLaunch) {
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'x') + L"\\CIV2.EXE";
    StorePath(longPath);
    form.Form_Load();
    EXPECT_EQ(form.civ2(), longPath);
    EXPECT_EQ(view.shownText, longPath);
    EXPECT_TRUE(form.command7Enabled());
    EXPECT_TRUE(view.launchEnabled);
}

TEST_F(Form1Test, LaunchFollowsThePathBoxBlanksIncluded) {
    Load();
    form.civ2_Edited(L"C");
    EXPECT_TRUE(view.launchEnabled);
    form.civ2_Edited(L"");
    EXPECT_FALSE(view.launchEnabled);
    form.civ2_Edited(L"   ");
    EXPECT_TRUE(form.command7Enabled());
    EXPECT_EQ(Writes(), 0);  // typing saves nothing
}

TEST_F(Form1Test, PlainDoItWritesTheOptionThenConfirms) {
    Load();
    form.Command1_Click();
    EXPECT_EQ(Stored(L"civilization gold", L"simultaneous"), L"1");
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, messages::kCommand1Done);
    EXPECT_EQ(fake.messages[0].title, L"Quenbrook");
    EXPECT_TRUE(fake.attributes.empty());
}

TEST_F(Form1Test, ReadOnlyDoItLocksOnlyAfterTheMessageIsClosed) {
    Load();
    form.Command6_Click();
    EXPECT_EQ(Stored(L"civilization gold", L"simultaneous"), L"1");
    const std::vector<std::string> tail(fake.calls.end() - 2, fake.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"message", "attributes 1"}));
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, messages::kCommand6Done);
    EXPECT_TRUE(fake.Locked(kIni));
}

TEST_F(Form1Test, ReadOnlyDoItTwiceConfirmsAndLocksAgain) {
    Load();
    form.Command6_Click();
    form.Command6_Click();
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[1].text, messages::kCommand6Done);
    EXPECT_EQ(fake.calls.back(), "attributes 1");
}

TEST_F(Form1Test, DoItOnALockedFileWithoutTheOptionSaysWhyAndWhichFile) {
    Load();
    fake.attributes[kIni] = kAttributeReadOnly;
    for (auto click : {&Form1::Command1_Click, &Form1::Command6_Click}) {
        fake.messages.clear();
        fake.calls.clear();
        (form.*click)();
        ASSERT_EQ(fake.messages.size(), 1u);
        const std::wstring& text = fake.messages[0].text;
        EXPECT_NE(text.find(L"could not be changed"), std::wstring::npos) << "no failure said";
        EXPECT_NE(text.find(L"read-only"), std::wstring::npos) << "no reason given";
        EXPECT_NE(text.find(L"/host/C:\\Windows\\civ.ini"), std::wstring::npos) << "no file named";
        EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "attributes 1"), 0);
    }
    EXPECT_EQ(Stored(L"civilization gold", L"simultaneous"), std::nullopt);
}

TEST_F(Form1Test, FailedWriteWithoutPrefixIsNeverConfirmed) {
    Load();
    fake.writeFailure = L"there is no Wine prefix at /home/u/.wine";
    form.Command1_Click();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_NE(fake.messages[0].text, messages::kCommand1Done);
    EXPECT_NE(fake.messages[0].text.find(L"no Wine prefix at /home/u/.wine"), std::wstring::npos);
}

TEST_F(Form1Test, LockThenUnlockThenPlainDoItWritesAgain) {
    Load();
    form.Command6_Click();
    form.Command5_Click();
    EXPECT_EQ(fake.attributes[kIni], kAttributeNormal);
    fake.files.clear();
    form.Command1_Click();
    EXPECT_EQ(Stored(L"civilization gold", L"simultaneous"), L"1");
    EXPECT_EQ(fake.messages.back().text, messages::kCommand1Done);
}

TEST_F(Form1Test, AttributeFailuresAreReported) {
    Load();
    fake.attributeFailure = L"civ.ini does not exist";
    form.Command5_Click();
    form.Command6_Click();  // the option is written; the lock then fails
    ASSERT_EQ(fake.messages.size(), 3u);
    EXPECT_NE(fake.messages[0].text.find(L"normal attributes"), std::wstring::npos);
    EXPECT_EQ(fake.messages[1].text, messages::kCommand6Done);
    EXPECT_NE(fake.messages[2].text.find(L"'Read Only'"), std::wstring::npos);
    EXPECT_NE(fake.messages[2].text.find(L"does not exist"), std::wstring::npos);
}

TEST_F(Form1Test, HelpButtonsOnlyExplain) {
    Load();
    form.Command3_Click();
    form.Command9_Click();
    ASSERT_EQ(fake.messages.size(), 2u);
    EXPECT_EQ(fake.messages[0].text, messages::kCommand1Help);
    EXPECT_EQ(fake.messages[1].text, messages::kCommand6Help);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"message", "message"}));
}

TEST_F(Form1Test, ViewOpensCivIniAndReportsAnEditorThatFails) {
    Load();
    form.Command2_Click();
    EXPECT_EQ(fake.opened, std::vector<std::wstring>{kIni});
    EXPECT_TRUE(fake.messages.empty());

    fake.editorFailure = L"xdg-open is not installed";
    fake.answerLater = true;
    form.Command2_Click();
    EXPECT_TRUE(fake.messages.empty()) << "the window must not wait for the editor";
    fake.RunPending();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_NE(fake.messages[0].text.find(L"xdg-open is not installed"), std::wstring::npos);
    EXPECT_FALSE(fake.ended);
}

TEST_F(Form1Test, BrowsePicksSavesAndStartsFromTheCurrentPath) {
    StorePath(L"C:\\OLD\\CIV2.EXE");
    Load();
    fake.dialogAnswers.push_back(L"C:\\MPS\\CIV2\\CIV2.EXE");
    form.Command10_Click();
    EXPECT_EQ(fake.dialogInitialFiles, std::vector<std::wstring>{L"C:\\OLD\\CIV2.EXE"});
    EXPECT_EQ(fake.calls.front(), "dialog Civ 2 (Civ2.exe)|Civ2.exe|");
    EXPECT_EQ(form.civ2(), L"C:\\MPS\\CIV2\\CIV2.EXE");
    EXPECT_EQ(view.shownText, form.civ2());
    EXPECT_EQ(Stored(L"civ2", L"path"), L"C:\\MPS\\CIV2\\CIV2.EXE");
}

TEST_F(Form1Test, CancelledBrowseChangesNothing) {
    Load();
    fake.dialogAnswers.push_back(std::nullopt);  // first use in this run
    form.Command10_Click();
    EXPECT_EQ(form.civ2(), L"");
    EXPECT_EQ(Writes(), 0);

    fake.dialogAnswers.push_back(L"C:\\A\\CIV2.EXE");
    fake.dialogAnswers.push_back(std::nullopt);
    form.Command10_Click();
    form.civ2_Edited(L"D:\\typed\\civ2.exe");
    form.Command10_Click();
    EXPECT_EQ(form.civ2(), L"D:\\typed\\civ2.exe");
    EXPECT_TRUE(view.launchEnabled);
    EXPECT_EQ(Stored(L"civ2", L"path"), L"C:\\A\\CIV2.EXE");
}

TEST_F(Form1Test, LaunchStartsTheGameInItsFolderSavesAndEnds) {
    Load();
    form.civ2_Edited(L"C:\\MPS\\CIV2\\CIV2.EXE");
    form.Command7_Click();
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].commandLine, L"C:\\MPS\\CIV2\\CIV2.EXE");
    EXPECT_EQ(fake.started[0].windowStyle, kShowMaximized);
    EXPECT_TRUE(fake.started[0].inProgramFolder);
    EXPECT_EQ(Stored(L"civ2", L"path"), L"C:\\MPS\\CIV2\\CIV2.EXE");
    EXPECT_EQ(fake.calls.back(), "end");
}

TEST_F(Form1Test, GameThatCannotStartIsReportedAndNothingIsSaved) {
    Load();
    form.civ2_Edited(L"C:\\nowhere\\CIV2.EXE");
    fake.startFailure = L"C:\\nowhere\\CIV2.EXE does not exist";
    form.Command7_Click();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_NE(fake.messages[0].text.find(L"could not be started"), std::wstring::npos);
    EXPECT_NE(fake.messages[0].text.find(L"does not exist"), std::wstring::npos);
    EXPECT_EQ(Writes(), 0);
    EXPECT_FALSE(fake.ended);
}

TEST_F(Form1Test, ExitSavesThePathAndTheCloseBoxDoesNot) {
    StorePath(L"C:\\OLD\\CIV2.EXE");
    Load();
    form.civ2_Edited(L"C:\\NEW\\CIV2.EXE");
    form.Form_QueryUnload();
    EXPECT_TRUE(fake.ended);
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(Stored(L"civ2", L"path"), L"C:\\OLD\\CIV2.EXE");

    form.Command4_Click();
    EXPECT_EQ(Stored(L"civ2", L"path"), L"C:\\NEW\\CIV2.EXE");
    EXPECT_EQ(fake.calls.back(), "end");
}

TEST_F(Form1Test, PathWritesToALockedFileStaySilentOtherFailuresAreSaid) {
    Load();
    form.civ2_Edited(L"C:\\NEW\\CIV2.EXE");
    fake.attributes[kIni] = kAttributeReadOnly;
    form.Command4_Click();
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_TRUE(fake.ended);

    fake.attributes.clear();
    fake.ended = false;
    fake.writeFailure = L"the disk is full";
    form.Command4_Click();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_NE(fake.messages[0].text.find(L"the disk is full"), std::wstring::npos);
    EXPECT_TRUE(fake.ended) << "Exit still ends once the user has read why";
}

TEST_F(Form1Test, LinkLabelsOpenTheirLinksWithABusyPointer) {
    Load();
    form.Label2_Click();
    form.Label3_Click();
    EXPECT_EQ(fake.opened, (std::vector<std::wstring>{std::wstring(layout::kAuthorLink),
                                                      std::wstring(layout::kIdeaLink)}));
    EXPECT_TRUE(layout::kAuthorLink.starts_with(L"mailto:"));
    EXPECT_TRUE(layout::kIdeaLink.starts_with(L"http://"));
    EXPECT_TRUE(layout::kIdeaLink.ends_with(L"/Forum3/HTML/000051.html"));
    EXPECT_EQ(fake.pointers, (std::vector<int>{11, 0, 11, 0}));
    EXPECT_TRUE(fake.messages.empty());
}

TEST(ExecuteLinkTest, EveryFailingShellResultIsReportedAndThePointerRestored) {
    for (long result : {0L, 2L, 31L, 32L}) {
        FakePlatform fake;
        fake.shellAnswer = {result, 1155};
        ExecuteLink(fake, fake, L"http://a.example.org/x");
        ASSERT_EQ(fake.messages.size(), 1u) << "result " << result;
        EXPECT_EQ(fake.messages[0].title, L"ExecuteLink");
        EXPECT_EQ(fake.messages[0].text, L"error Opening Link to http://a.example.org/x\r\n\r\n1155");
        EXPECT_EQ(fake.pointers.back(), kPointerDefault);
    }
    FakePlatform ok;
    ok.shellAnswer = {33, 0};
    ExecuteLink(ok, ok, L"mailto:x@example.org");
    EXPECT_TRUE(ok.messages.empty());
}

TEST(ExecuteLinkTest, ShellThatCannotRunStillReportsAndRestores) {
    FakePlatform fake;
    fake.shellThrows = true;
    ExecuteLink(fake, fake, L"mailto:x@example.org");
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_EQ(fake.messages[0].text, L"error Opening Link to mailto:x@example.org\r\n\r\n0");
    EXPECT_EQ(fake.pointers, (std::vector<int>{11, 0, 0}));
}

TEST(ExecuteLinkTest, PointerStaysBusyUntilTheShellAnswers) {
    FakePlatform fake;
    fake.answerLater = true;
    fake.shellAnswer = {0, 3};
    ExecuteLink(fake, fake, L"http://a.example.org/");
    EXPECT_EQ(fake.pointers, std::vector<int>{11});
    fake.RunPending();
    EXPECT_EQ(fake.pointers.back(), kPointerDefault);
    EXPECT_EQ(fake.messages.size(), 1u);
}

}  // namespace
}  // namespace quenbrook
