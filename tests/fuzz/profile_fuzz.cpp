// libFuzzer target for the profile engine. Every input is a file's content and, optionally,
// the section, key and value to write into it; the engine must never crash, and a write
// must change only the one line it is about and read back as written.
//
// Input: "section\0key\0value\0content" — or, with fewer than three NULs, the whole input
// is the content and the write is Simultaneous=1 in [Civilization Gold], as the program
// makes it. The content may hold NULs of its own after the third one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/profile_engine.h"

namespace {

using quenbrook::ApplyProfileEdit;
using quenbrook::CheckProfileWrite;
using quenbrook::FindProfileValue;
using quenbrook::PlanProfileWrite;
using quenbrook::ProfileLineBreak;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void Expect(bool ok, const char* what) {
    if (!ok) Broken(what);
}

bool HasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1a' || c == ' '; }

// Written as it is read back: reading trims blanks around names and values and drops one
// pair of matching quotes around a value, as the game does, so only such text is expected
// to come back unchanged.
bool ReadsBackAsItself(std::string_view s, bool isValue) {
    if (!s.empty() && (IsBlank(s.front()) || IsBlank(s.back()))) return false;
    if (isValue && s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.front() == s.back())
        return false;
    return true;
}

// Takes the next NUL-terminated field off input, or nothing when there is no NUL left.
bool TakeField(std::string_view& input, std::string_view& field) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string_view::npos) return false;
    field = input.substr(0, nul);
    input.remove_prefix(nul + 1);
    return true;
}

void CheckWrite(std::string_view content, std::string_view section, std::string_view key,
                std::string_view value) {
    const auto edit = PlanProfileWrite(content, section, key, value);
    const bool canonical = ReadsBackAsItself(section, false) && ReadsBackAsItself(key, false) &&
                           ReadsBackAsItself(value, true);
    if (!edit) {
        // Nothing to do is only right when the value is already there.
        const auto now = FindProfileValue(content, section, key);
        Expect(now.has_value(), "no edit planned, but the key is missing");
        if (canonical) Expect(*now == value, "no edit planned, but the value differs");
        return;
    }
    Expect(edit->offset <= content.size() && edit->erase <= content.size() - edit->offset,
           "edit outside the file");
    const std::string written = ApplyProfileEdit(content, *edit);

    // Only one line changes: the bytes before and after the edited span are the old bytes
    // in the old order, the erased span lies inside one line, and a changed value stays on
    // its line. Checked on the bytes themselves, not on the edit's word.
    Expect(written.size() == content.size() - edit->erase + edit->insert.size(), "size");
    Expect(std::string_view(written).substr(0, edit->offset) == content.substr(0, edit->offset),
           "bytes before the edit changed");
    Expect(std::string_view(written).substr(edit->offset + edit->insert.size()) ==
               content.substr(edit->offset + edit->erase),
           "bytes after the edit changed");
    Expect(!HasBreak(content.substr(edit->offset, edit->erase)), "erased a line break");
    if (edit->erase > 0) Expect(!HasBreak(edit->insert), "a changed value split its line");
    // A new line uses the file's own line break and never glues onto its neighbours.
    if (edit->erase == 0 && HasBreak(edit->insert)) {
        const std::string_view lineBreak = ProfileLineBreak(content);
        Expect(edit->insert.find(lineBreak) != std::string::npos, "a foreign line break");
        if (edit->offset > 0)
            Expect(content[edit->offset - 1] == '\r' || content[edit->offset - 1] == '\n' ||
                       edit->insert.starts_with(lineBreak),
                   "the new line glued onto the line before it");
        if (edit->offset < content.size())
            Expect(edit->insert.ends_with(lineBreak), "the new line glued onto the line after it");
    }

    const auto readBack = FindProfileValue(written, section, key);
    if (canonical) {
        Expect(readBack.has_value(), "the written key is not found");
        Expect(*readBack == value, "the written key reads back another value");
        Expect(!PlanProfileWrite(written, section, key, value).has_value(),
               "writing the same value again would change the file");
        // And writing the old value back restores the old bytes. (Not after emptying a
        // value: blanks that followed it then lie on both sides of the empty one, and the
        // old value comes back after them.)
        const auto before = FindProfileValue(content, section, key);
        if (before && !value.empty() && ReadsBackAsItself(*before, true) &&
            CheckProfileWrite(section, key, *before)) {
            const auto undo = PlanProfileWrite(written, section, key, *before);
            Expect(undo.has_value() && ApplyProfileEdit(written, *undo) == content,
                   "writing the old value back does not restore the file");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view rest = input, section, key, value;
    if (!(TakeField(rest, section) && TakeField(rest, key) && TakeField(rest, value))) {
        rest = input;
        section = "Civilization Gold";
        key = "Simultaneous";
        value = "1";
    }
    const std::string_view content = rest;

    // Reading never fails, whatever the names.
    (void)FindProfileValue(content, section, key);
    (void)FindProfileValue(content, key, value);
    (void)ProfileLineBreak(content);

    if (CheckProfileWrite(section, key, value)) CheckWrite(content, section, key, value);
    return 0;
}
