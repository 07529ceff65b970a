// libFuzzer target for the profile engine: whatever the content, section, key and value,
// the engine never crashes, and a write changes only the one line it is about and reads
// back as written. Input: "section\0key\0value\0content" (the content may hold NULs of
// its own); with fewer than three NULs the whole input is the content and the write is
// Simultaneous=1 in [Civilization Gold], as the program makes it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/profile_engine.h"

namespace {

using namespace quenbrook;

void Expect(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool HasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1a' || c == ' '; }

// Reading trims blanks around names and values and drops one pair of matching quotes
// around a value, as the game does, so only other text comes back unchanged.
bool ReadsBackAsItself(std::string_view s, bool isValue) {
    if (!s.empty() && (IsBlank(s.front()) || IsBlank(s.back()))) return false;
    return !(isValue && s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.front() == s.back());
}

// Takes the next NUL-terminated field off input; false when no NUL is left.
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
        Expect(!canonical || *now == value, "no edit planned, but the value differs");
        return;
    }
    Expect(edit->offset <= content.size() && edit->erase <= content.size() - edit->offset,
           "edit outside the file");
    const std::string written = ApplyProfileEdit(content, *edit);

    // Checked on the bytes themselves: the bytes around the edited span are the old ones,
    // the erased span lies inside one line, and a changed value stays on its line.
    const std::string_view out = written;
    Expect(written.size() == content.size() - edit->erase + edit->insert.size(), "size");
    Expect(out.substr(0, edit->offset) == content.substr(0, edit->offset), "bytes before the edit changed");
    Expect(out.substr(edit->offset + edit->insert.size()) == content.substr(edit->offset + edit->erase),
           "bytes after the edit changed");
    Expect(!HasBreak(content.substr(edit->offset, edit->erase)), "erased a line break");
    Expect(edit->erase == 0 || !HasBreak(edit->insert), "a changed value split its line");
    // A new line uses the file's own line break and never glues onto its neighbours.
    if (edit->erase == 0 && HasBreak(edit->insert)) {
        const std::string_view lineBreak = ProfileLineBreak(content);
        Expect(edit->insert.find(lineBreak) != std::string::npos, "a foreign line break");
        // (A UTF-8 byte-order mark is no part of the first line.)
        const bool lineStart = edit->offset == 0 || HasBreak(content.substr(edit->offset - 1, 1)) ||
                               (edit->offset == 3 && content.starts_with("\xef\xbb\xbf"));
        Expect(lineStart || edit->insert.starts_with(lineBreak),
               "the new line glued onto the line before it");
        Expect(edit->offset == content.size() || edit->insert.ends_with(lineBreak),
               "the new line glued onto the line after it");
    }
    if (!canonical) return;
    const auto readBack = FindProfileValue(written, section, key);
    Expect(readBack.has_value() && *readBack == value, "the written key does not read back as written");
    Expect(!PlanProfileWrite(written, section, key, value), "writing the same value again would change the file");
    // Writing the old value back restores the old bytes. (Not after emptying a value: the
    // blanks that followed it then lie on both sides of the empty one. Nor when a NUL ended
    // the old value: the bytes after it went with the value.)
    const auto before = FindProfileValue(content, section, key);
    const bool nulInValue = content.substr(edit->offset, edit->erase).find('\0') != std::string_view::npos;
    if (before && !value.empty() && !nulInValue && ReadsBackAsItself(*before, true) &&
        CheckProfileWrite(section, key, *before)) {
        const auto undo = PlanProfileWrite(written, section, key, *before);
        Expect(undo && ApplyProfileEdit(written, *undo) == content,
               "writing the old value back does not restore the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view content = input, section, key, value;
    if (!(TakeField(content, section) && TakeField(content, key) && TakeField(content, value))) {
        content = input;
        section = "Civilization Gold";
        key = "Simultaneous";
        value = "1";
    }
    // Reading never fails, whatever the names.
    (void)FindProfileValue(content, section, key);
    (void)FindProfileValue(content, key, value);
    (void)ProfileLineBreak(content);
    if (CheckProfileWrite(section, key, value)) CheckWrite(content, section, key, value);
    return 0;
}
