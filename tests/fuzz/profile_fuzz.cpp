// libFuzzer target for the profile engine: whatever the content, section, key and value,
// the engine never crashes, and a write changes only the one line it is about and reads
// back as written.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "platform/linux/civ_ini/profile_engine.h"

namespace {

using namespace quenbrook;

void Expect(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what);
    if (!ok) std::abort();
}

bool HasBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1a' || c == ' '; }

// Reading trims blanks around names and values and drops one pair of matching quotes
// around a value, as the game does, so only other text comes back unchanged.
bool ReadsBackAsItself(std::string_view s, bool isValue) {
    if (!s.empty() && (IsBlank(s.front()) || IsBlank(s.back()))) return false;
    return !(isValue && s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.front() == s.back());
}

void CheckWrite(std::string_view content, std::string_view section, std::string_view key, std::string_view value) {
    const auto edit = PlanProfileWrite(content, section, key, value);
    const bool canonical = ReadsBackAsItself(section, false) && ReadsBackAsItself(key, false) && ReadsBackAsItself(value, true);
    if (!edit) {
        const auto now = FindProfileValue(content, section, key);
        Expect(now && (!canonical || *now == value), "no edit planned, but the value is not there");
        return;
    }
    Expect(edit->offset <= content.size() && edit->erase <= content.size() - edit->offset, "edit outside the file");
    const std::string written = ApplyProfileEdit(content, *edit);
    Expect(written == std::string(content.substr(0, edit->offset)) + edit->insert +
                          std::string(content.substr(edit->offset + edit->erase)),
           "bytes outside the edit changed");
    Expect(!HasBreak(content.substr(edit->offset, edit->erase)), "erased a line break");
    Expect(edit->erase == 0 || !HasBreak(edit->insert), "a changed value split its line");
    // A new line: a UTF-8 byte-order mark is no part of the first line.
    if (edit->erase == 0 && HasBreak(edit->insert)) {
        const std::string_view lineBreak = ProfileLineBreak(content);
        Expect(edit->insert.find(lineBreak) != std::string::npos, "a foreign line break");
        const bool lineStart = edit->offset == 0 || HasBreak(content.substr(edit->offset - 1, 1)) ||
                               (edit->offset == 3 && content.starts_with("\xef\xbb\xbf"));
        Expect(lineStart || edit->insert.starts_with(lineBreak), "the new line glued onto the line before it");
        Expect(edit->offset == content.size() || edit->insert.ends_with(lineBreak), "the new line glued onto the line after it");
    }
    if (!canonical) return;
    const auto readBack = FindProfileValue(written, section, key);
    Expect(readBack && *readBack == value, "the written key does not read back as written");
    Expect(!PlanProfileWrite(written, section, key, value), "writing the same value again would change the file");
    // Writing the old value back restores the old bytes; not after emptying a value (the blanks
    // after it then lie on both sides), nor when a NUL ended the old value (what followed went).
    const auto before = FindProfileValue(content, section, key);
    const bool nulInValue = content.substr(edit->offset, edit->erase).find('\0') != std::string_view::npos;
    if (before && !value.empty() && !nulInValue && ReadsBackAsItself(*before, true) && CheckProfileWrite(section, key, *before)) {
        const auto undo = PlanProfileWrite(written, section, key, *before);
        Expect(undo && ApplyProfileEdit(written, *undo) == content, "writing the old value back does not restore the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // "section\0key\0value\0content" (the content may hold NULs of its own); with fewer NULs,
    // all of it is the content and the write is the program's own, Simultaneous=1.
    std::string_view content(reinterpret_cast<const char*>(data), size);
    std::string_view names[3] = {"Civilization Gold", "Simultaneous", "1"};
    if (std::ranges::count(content, '\0') >= 3) {
        for (std::string_view& name : names) {
            name = content.substr(0, content.find('\0'));
            content.remove_prefix(name.size() + 1);
        }
    }
    const auto& [section, key, value] = names;
    (void)FindProfileValue(content, section, key);
    (void)FindProfileValue(content, key, value);
    (void)ProfileLineBreak(content);
    if (CheckProfileWrite(section, key, value)) CheckWrite(content, section, key, value);
    return 0;
}

#ifdef QUENBROOK_FUZZ_REPLAY
// Without libFuzzer (GCC, the usual CI run): one input, from standard input.
int main() {
    const std::string input((std::istreambuf_iterator<char>(std::cin)), {});
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}
#endif
