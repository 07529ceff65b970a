#include "platform/linux/profile_engine.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/ascii.h"

namespace quenbrook {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The blanks Windows trims around names and values: space, tab and vertical tab.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }
bool IsBreak(char c) { return c == '\r' || c == '\n'; }


std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Windows strips only spaces from the caller's section and key, not tabs.
std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// One line of the file: its text is [begin, end); the next line starts at next, so
// [end, next) is its line break (empty for a last line without one).
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

// Walks the lines of a file whose breaks may be CRLF, LF or CR alike. The next CR and
// the next LF are each looked up with memchr and kept until passed, so a file of any
// size and any mix of breaks is walked in one linear pass.
class LineScanner {
public:
    explicit LineScanner(std::string_view text)
        : text_(text), nextCr_(Find('\r', 0)), nextLf_(Find('\n', 0)) {}

    std::size_t Position() const { return pos_; }

    // Continues at pos, the start of a line at or after the current position. The kept
    // CR and LF positions stay right: no break lies between the old and the new spot
    // that they have not seen.
    void SkipTo(std::size_t pos) { pos_ = pos; }

    bool Next(Line& line) {
        if (pos_ >= text_.size()) return false;
        if (nextCr_ < pos_) nextCr_ = Find('\r', pos_);
        if (nextLf_ < pos_) nextLf_ = Find('\n', pos_);
        const std::size_t end = std::min({nextCr_, nextLf_, text_.size()});
        std::size_t next = end;
        if (end < text_.size())
            next = (text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n')
                       ? end + 2
                       : end + 1;
        line = Line{pos_, end, next};
        pos_ = next;
        return true;
    }

private:
    std::size_t Find(char c, std::size_t from) const {
        if (from >= text_.size()) return kNone;
        const void* hit = std::memchr(text_.data() + from, c, text_.size() - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : kNone;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t nextCr_;
    std::size_t nextLf_;
};

// Where the first section named `section` is, and in it the key named `key`.
struct Scan {
    bool sectionFound = false;
    Line header;
    bool hasKeyLine = false;
    Line lastKeyLine;  // last key line of the section seen so far
    bool keyFound = false;
    std::size_t valueBegin = 0;  // the value with blanks trimmed, quotes still on
    std::size_t valueEnd = 0;
};

// The start of the next line at or after from whose first non-blank byte is '[', or
// kNone. Outside the wanted section only headers matter, so the walk hops from '[' to
// '[' instead of visiting every line.
std::size_t NextHeaderLine(std::string_view text, std::size_t lineStart) {
    std::size_t from = lineStart;
    while (from < text.size()) {
        const void* hit = std::memchr(text.data() + from, '[', text.size() - from);
        if (!hit) return kNone;
        const std::size_t bracket =
            static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        std::size_t begin = bracket;
        while (begin > lineStart && IsBlank(text[begin - 1])) --begin;
        if (begin == lineStart || IsBreak(text[begin - 1])) return begin;
        from = bracket + 1;
    }
    return kNone;
}

// Only the first section of a name counts and in it only the first matching key, so
// the walk stops as soon as either is settled: at the key, or at the header after it.
Scan ScanFor(std::string_view text, std::string_view section, std::string_view key) {
    Scan scan;
    bool inSection = false;
    LineScanner lines(text);
    Line line;
    for (;;) {
        if (!inSection) {
            const std::size_t header = NextHeaderLine(text, lines.Position());
            if (header == kNone) break;
            lines.SkipTo(header);
        }
        if (!lines.Next(line)) break;
        std::size_t p = line.begin;
        while (p < line.end && IsBlank(text[p])) ++p;
        if (p == line.end || text[p] == ';') continue;
        if (text[p] == '[') {
            if (inSection) break;
            const std::string_view rest = text.substr(p + 1, line.end - p - 1);
            const std::string_view name = TrimBlanks(rest.substr(0, rest.find(']')));
            if (EqualsIgnoringAsciiCase(name, section)) {
                inSection = true;
                scan.sectionFound = true;
                scan.header = line;
            }
            continue;
        }
        if (!inSection) continue;
        const void* equals = std::memchr(text.data() + p, '=', line.end - p);
        if (!equals) continue;
        const std::size_t eq =
            static_cast<std::size_t>(static_cast<const char*>(equals) - text.data());
        if (EqualsIgnoringAsciiCase(TrimBlanks(text.substr(p, eq - p)), key)) {
            std::size_t vb = eq + 1;
            std::size_t ve = line.end;
            while (vb < ve && IsBlank(text[vb])) ++vb;
            while (ve > vb && IsBlank(text[ve - 1])) --ve;
            scan.keyFound = true;
            scan.valueBegin = vb;
            scan.valueEnd = ve;
            return scan;
        }
        scan.hasKeyLine = true;
        scan.lastKeyLine = line;
    }
    return scan;
}

// A value wrapped in one matching pair of quotes is read without that pair.
void Unquote(std::string_view text, std::size_t& begin, std::size_t& end) {
    if (end - begin >= 2 && (text[begin] == '"' || text[begin] == '\'') &&
        text[end - 1] == text[begin]) {
        ++begin;
        --end;
    }
}

std::wstring Named(const wchar_t* what, const wchar_t* problem) {
    return std::wstring(what) + L" " + problem;
}

}  // namespace

std::string_view ProfileLineBreak(std::string_view content) {
    const std::size_t at = content.find_first_of("\r\n");
    if (at == kNone) return "\r\n";
    if (content[at] == '\n') return "\n";
    return (at + 1 < content.size() && content[at + 1] == '\n') ? "\r\n" : "\r";
}

std::optional<std::string_view> FindProfileValue(std::string_view content, std::string_view section,
                                                 std::string_view key) {
    const Scan scan = ScanFor(content, TrimSpaces(section), TrimSpaces(key));
    if (!scan.keyFound) return std::nullopt;
    std::size_t begin = scan.valueBegin;
    std::size_t end = scan.valueEnd;
    Unquote(content, begin, end);
    return content.substr(begin, end - begin);
}

Status CheckProfileWrite(std::string_view section, std::string_view key, std::string_view value) {
    section = TrimSpaces(section);
    key = TrimSpaces(key);
    // A name of blanks only is read back as an empty one.
    if (TrimBlanks(section).empty()) return Status::Fail(L"the section name is empty");
    if (TrimBlanks(key).empty()) return Status::Fail(L"the key name is empty");
    // The file's names are read trimmed of tabs too: such a name would never be found
    // again, and every write would add another line.
    if (TrimBlanks(section).size() != section.size())
        return Status::Fail(L"the section name starts or ends with a tab");
    if (TrimBlanks(key).size() != key.size())
        return Status::Fail(L"the key name starts or ends with a tab");

    // A line break or NUL would split the line or cut it short in the game's file.
    const struct {
        const wchar_t* what;
        std::string_view text;
    } parts[] = {{L"the section name", section}, {L"the key name", key}, {L"the value", value}};
    for (const auto& part : parts) {
        if (part.text.find_first_of("\r\n") != kNone)
            return Status::Fail(Named(part.what, L"contains a line break"));
        if (part.text.find('\0') != kNone)
            return Status::Fail(Named(part.what, L"contains a NUL character"));
    }

    if (section.find(']') != kNone)
        return Status::Fail(L"the section name contains ']' (the game would read another section)");
    if (key.find('=') != kNone)
        return Status::Fail(L"the key name contains '=' (the game would read another key)");
    const char first = TrimBlanks(key).front();
    if (first == ';')
        return Status::Fail(L"the key name starts with ';' (the game would read a comment)");
    if (first == '[')
        return Status::Fail(L"the key name starts with '[' (the game would read a section)");
    return Status::Ok();
}

std::optional<ProfileEdit> PlanProfileWrite(std::string_view content, std::string_view section,
                                            std::string_view key, std::string_view value) {
    section = TrimSpaces(section);
    key = TrimSpaces(key);
    const Scan scan = ScanFor(content, section, key);

    if (scan.keyFound) {
        // Only the value text changes. Blanks around it stay, and so do quotes that
        // wrapped it: the game still reads exactly the new value, and writing the old
        // value back gives the old bytes back.
        std::size_t begin = scan.valueBegin;
        std::size_t end = scan.valueEnd;
        Unquote(content, begin, end);
        if (content.substr(begin, end - begin) == value) return std::nullopt;
        return ProfileEdit{begin, end - begin, std::string(value)};
    }

    const std::string_view lineBreak = ProfileLineBreak(content);
    ProfileEdit edit;
    if (scan.sectionFound) {
        const Line& after = scan.hasKeyLine ? scan.lastKeyLine : scan.header;
        if (after.next == after.end) {
            // The line is the file's last and has no break: the new line goes after a
            // break of its own and, like the line before it, ends the file without one.
            edit.offset = after.end;
            edit.insert.append(lineBreak).append(key).append("=").append(value);
        } else {
            edit.offset = after.next;
            edit.insert.append(key).append("=").append(value).append(lineBreak);
        }
        return edit;
    }

    edit.offset = content.size();
    if (!content.empty() && !IsBreak(content.back())) edit.insert.append(lineBreak);
    edit.insert.append("[").append(section).append("]").append(lineBreak);
    edit.insert.append(key).append("=").append(value).append(lineBreak);
    return edit;
}

std::string ApplyProfileEdit(std::string_view content, const ProfileEdit& edit) {
    std::string out;
    out.reserve(content.size() - edit.erase + edit.insert.size());
    out.append(content.substr(0, edit.offset));
    out.append(edit.insert);
    out.append(content.substr(edit.offset + edit.erase));
    return out;
}

}  // namespace quenbrook
