// Form1's handlers driven through the recording fake. Each row of form1_transcripts
// starts the window, does what a user does, and compares everything the platform and the
// view heard, in order (reads left out), with the row's transcript, message texts included.
#include "main_window/form1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cases.h"
#include "support/fake_platform.h"

namespace quenbrook {
namespace {

using testing::FakePlatform;
using testing::Narrow;

class RecordingView : public Form1View {
public:
    explicit RecordingView(std::vector<std::string>& calls) : calls_(calls) {}
    void SetCiv2Text(const std::wstring& text) override { calls_.push_back("view text " + Narrow(text)); }
    void SetCommand7Enabled(bool on) override { calls_.push_back(on ? "view launch on" : "view launch off"); }

private:
    std::vector<std::string>& calls_;
};

const std::map<std::wstring, void (Form1::*)()> kEvents = {
    {L"Command1", &Form1::Command1_Click},   {L"Command2", &Form1::Command2_Click},
    {L"Command3", &Form1::Command3_Click},   {L"Command4", &Form1::Command4_Click},
    {L"Command5", &Form1::Command5_Click},   {L"Command6", &Form1::Command6_Click},
    {L"Command7", &Form1::Command7_Click},   {L"Command9", &Form1::Command9_Click},
    {L"Command10", &Form1::Command10_Click}, {L"Label2", &Form1::Label2_Click},
    {L"Label3", &Form1::Label3_Click},       {L"close", &Form1::Form_QueryUnload},
};

class Form1Handlers : public ::testing::TestWithParam<testing::Case> {};
TEST_P(Form1Handlers, Transcript) {
    const auto& row = GetParam();
    const std::wstring civIni = L"c:\\windows\\civ.ini";
    FakePlatform fake;
    RecordingView view(fake.calls);
    Form1 form(fake, fake, view);
    if (row.at(0)) fake.files[civIni][L"civ2"][L"path"] = row.wide(0);
    form.Form_Load();
    std::wistringstream steps(row.wide(1));
    for (std::wstring step; std::getline(steps, step, L';');) {
        const std::wstring verb = step.substr(0, step.find(L' '));
        const std::wstring arg = step.substr(std::min(step.size(), verb.size() + 1));
        if (kEvents.contains(verb)) (form.*kEvents.at(verb))();
        else if (verb == L"type") form.civ2_Edited(arg);
        else if (verb == L"lock") fake.attributes[civIni] = kAttributeReadOnly;
        else if (verb == L"unlock") fake.attributes.clear();
        else if (verb == L"fail") fake.failures[Narrow(arg.substr(0, arg.find(L' ')))] = arg.substr(arg.find(L' ') + 1);
        else if (verb == L"heal") fake.failures.clear();
        else if (verb == L"vanish") fake.writesVanish = true;
        else if (verb == L"pick") fake.dialogAnswers.push_back(arg);
        else if (verb == L"later") fake.answerLater = true;
        else if (verb == L"shell") fake.shellAnswer = {std::stol(arg), std::stoul(arg.substr(arg.find(L' ')))};
        else if (verb == L"answer") fake.RunPending();
        else FAIL() << "unknown step " << Narrow(step);
    }
    std::vector<std::string> heard, expected;
    std::copy_if(fake.calls.begin(), fake.calls.end(), std::back_inserter(heard),
                 [](const std::string& call) { return !call.starts_with("read "); });
    for (std::size_t i = 2; i < row.fields.size(); ++i) expected.push_back(row[i]);
    EXPECT_EQ(heard, expected);
}
INSTANTIATE_CASES(Form1Handlers, "form1_transcripts");

}  // namespace
}  // namespace quenbrook
