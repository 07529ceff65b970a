// Form1's handlers driven through the recording fake, which is also its view. Each row of
// form1_transcripts starts the window, does what a user does, and compares everything the
// platform and the view heard, in order, with the row's transcript, message texts included.
#include "main_window/form1.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cases.h"
#include "support/fake_platform.h"

namespace quenbrook {
namespace {

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
    testing::FakePlatform fake;
    Form1 form(fake, fake, fake);
    if (row.at(0)) fake.values[civIni + L"|civ2|path"] = row.wide(0);
    form.Form_Load();
    std::wistringstream steps(row.wide(1));
    for (std::wstring step; std::getline(steps, step, L';');) {
        const std::wstring verb = step.substr(0, step.find(L' '));
        const std::wstring arg = step.substr(std::min(step.size(), verb.size() + 1));
        if (kEvents.contains(verb)) (form.*kEvents.at(verb))();
        else if (verb == L"type") form.civ2_Edited(arg);
        else if (verb == L"lock") fake.attributes[civIni] = kAttributeReadOnly;
        else if (verb == L"fail") fake.failures[testing::Narrow(arg.substr(0, arg.find(L' ')))] = arg.substr(arg.find(L' ') + 1);
        else if (verb == L"heal") fake.failures.clear();
        else if (verb == L"admin") fake.failuresNeedAdministrator = true;
        else if (verb == L"yes") fake.administratorRun = arg.empty() ? Status::Ok() : Status::Fail(arg);
        else if (verb == L"vanish") fake.writesVanish = true;
        else if (verb == L"pick") fake.picked = arg;
        else if (verb == L"later") fake.answerLater = true;
        else if (verb == L"shell") fake.shellAnswer = {std::stol(arg), std::stoul(arg.substr(arg.find(L' ')))};
        else if (verb == L"answer") fake.RunPending();
        else FAIL() << "unknown step " << testing::Narrow(step);
    }
    std::vector<std::string> expected;
    for (std::size_t i = 2; i < row.fields.size(); ++i) expected.push_back(row[i]);
    EXPECT_EQ(fake.calls, expected);
}
INSTANTIATE_CASES(Form1Handlers, "form1_transcripts");

}  // namespace
}  // namespace quenbrook
