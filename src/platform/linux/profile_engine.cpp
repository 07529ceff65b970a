#include "platform/linux/profile_engine.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/ascii.h"

namespace quenbrook {

namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The blanks Wine trims from lines, names and values, and from the caller's names:
// tab, line feed, vertical tab, form feed, carriage return, Ctrl-Z and space.
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == '\x1a' || c == ' '; }
bool IsBreak(char c) { return c == '\r' || c == '\n'; }

// Wine keeps names and values as C strings: a NUL ends them.
std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
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
    bool keyHasValue = false;    // false: the key's line has no '=' (the game reads no value)
    std::size_t valueBegin = 0;  // the value with blanks trimmed, quotes still on; without
    std::size_t valueEnd = 0;    // '=', both are the end of the name
};

// A UTF-8 byte-order mark is no part of the first line: Wine reads past it.
std::size_t MarkLength(std::string_view text) { return text.starts_with(kUtf8Mark) ? 3 : 0; }

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
        while (begin > lineStart && IsBlank(text[begin - 1]) && !IsBreak(text[begin - 1])) --begin;
        if (begin == lineStart || IsBreak(text[begin - 1])) return begin;
        from = bracket + 1;
    }
    return kNone;
}

// The name of a section header as Wine reads it: a trimmed line that starts with '[' and
// has a ']' after it, the name running to the last ']'. Nothing for any other line, which
// Wine takes as an entry of the section before it.
std::optional<std::string_view> HeaderName(std::string_view trimmed) {
    if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
    const std::size_t close = trimmed.rfind(']');
    if (close == 0 || close == kNone) return std::nullopt;
    return CutAtNul(TrimBlanks(trimmed.substr(1, close - 1)));
}

// Only the first section of a name counts and in it only the first entry of the key's
// name, so the walk stops as soon as either is settled. Lines above the first header
// form a section named "", which therefore hides any later "[]".
Scan ScanFor(std::string_view text, std::string_view section, std::string_view key) {
    Scan scan;
    bool inSection = section.empty();
    LineScanner lines(text);
    lines.SkipTo(MarkLength(text));
    Line line;
    for (;;) {
        if (!inSection) {
            const std::size_t header = NextHeaderLine(text, lines.Position());
            if (header == kNone) break;
            lines.SkipTo(header);
        }
        if (!lines.Next(line)) break;
        std::size_t p = line.begin;
        std::size_t end = line.end;
        while (p < end && IsBlank(text[p])) ++p;
        while (end > p && IsBlank(text[end - 1])) --end;
        if (p == end) continue;
        const std::string_view trimmed = text.substr(p, end - p);
        if (const auto name = HeaderName(trimmed)) {
            if (inSection) break;
            if (EqualsIgnoringAsciiCase(*name, section)) {
                inSection = true;
                scan.sectionFound = true;
                scan.header = line;
            }
            continue;
        }
        if (!inSection) continue;
        const std::size_t eq = trimmed.find('=');
        const std::string_view name =
            CutAtNul(TrimBlanks(trimmed.substr(0, eq == kNone ? trimmed.size() : eq)));
        if (EqualsIgnoringAsciiCase(name, key)) {
            scan.keyFound = true;
            scan.keyHasValue = eq != kNone;
            // A value of blanks only is empty after them, where a new value goes.
            std::size_t vb = eq == kNone ? end : p + eq + 1;
            std::size_t ve = eq == kNone ? end : line.end;
            while (vb < ve && IsBlank(text[vb])) ++vb;
            while (ve > vb && IsBlank(text[ve - 1])) --ve;
            scan.valueBegin = vb;
            scan.valueEnd = ve;
            return scan;
        }
        // New keys go after the last key line; comments and lines without '=' stay below.
        if (eq != kNone && trimmed.front() != ';') {
            scan.hasKeyLine = true;
            scan.lastKeyLine = line;
        }
    }
    return scan;
}

// Whether a reader takes one pair of quotes off the value: Windows and Wine both do.
bool Quoted(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

// The value as Wine hands it out: up to a NUL, less one matching pair of quotes.
void Unquote(std::string_view text, std::size_t& begin, std::size_t& end) {
    end = begin + CutAtNul(text.substr(begin, end - begin)).size();
    if (Quoted(text.substr(begin, end - begin))) {
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
    const Scan scan = ScanFor(content, TrimBlanks(section), TrimBlanks(key));
    if (!scan.keyHasValue) return std::nullopt;
    std::size_t begin = scan.valueBegin;
    std::size_t end = scan.valueEnd;
    Unquote(content, begin, end);
    return content.substr(begin, end - begin);
}

Status CheckProfileWrite(std::string_view section, std::string_view key, std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (section.empty()) return Status::Fail(L"the section name is empty");
    if (key.empty()) return Status::Fail(L"the key name is empty");

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

    // Windows ends a section name at its first ']', Wine at its last: the two builds
    // share civ.ini, so a name both read alike is all we write.
    if (section.find(']') != kNone)
        return Status::Fail(L"the section name contains ']' (the game would read another section)");
    if (key.find('=') != kNone)
        return Status::Fail(L"the key name contains '=' (the game would read another key)");
    if (key.front() == ';')
        return Status::Fail(L"the key name starts with ';' (the game would read a comment)");
    if (key.front() == '[')
        return Status::Fail(L"the key name starts with '[' (the game would read a section)");
    return Status::Ok();
}

std::optional<ProfileEdit> PlanProfileWrite(std::string_view content, std::string_view section,
                                            std::string_view key, std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    const Scan scan = ScanFor(content, section, key);

    if (scan.keyFound && !scan.keyHasValue) {
        // The first line of that name has no '=': the game stops there and reads no
        // value, so that line is the one to complete.
        return ProfileEdit{scan.valueEnd, 0, "=" + std::string(value), scan.header.begin};
    }
    if (scan.keyFound) {
        // Only the value text changes. Blanks around it stay, and so do quotes that
        // wrapped it: the game still reads exactly the new value, and writing the old
        // value back gives the old bytes back. A value that brings its own quotes takes
        // the place of the old ones, as Windows writes it, instead of nesting inside
        // them. After a NUL nothing was read, so the whole value gives way.
        std::size_t begin = scan.valueBegin;
        std::size_t end = scan.valueEnd;
        const bool cut = content.substr(begin, end - begin).find('\0') != kNone;
        if (!Quoted(value)) Unquote(content, begin, end);
        if (content.substr(begin, end - begin) == value) return std::nullopt;
        if (cut)
            return ProfileEdit{scan.valueBegin, scan.valueEnd - scan.valueBegin,
                               std::string(value), scan.header.begin};
        return ProfileEdit{begin, end - begin, std::string(value), scan.header.begin};
    }

    const std::string_view lineBreak = ProfileLineBreak(content);
    ProfileEdit edit;
    if (scan.sectionFound) {
        edit.section = scan.header.begin;
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

    edit.offset = edit.section = content.size();
    if (content.size() > MarkLength(content) && !IsBreak(content.back()))
        edit.insert.append(lineBreak);
    edit.insert.append("[").append(section).append("]").append(lineBreak);
    edit.insert.append(key).append("=").append(value).append(lineBreak);
    return edit;
}

std::size_t EditedLineEnd(std::string_view content, const ProfileEdit& edit) {
    const std::size_t rest = edit.offset + edit.erase;
    const std::size_t lineEnd = std::min(content.find_first_of("\r\n", rest), content.size());
    // An insert ends a line of its own (or the file); a replaced value runs to its line's end.
    const bool ownLine = !edit.insert.empty() && IsBreak(edit.insert.back());
    const std::size_t after = ownLine || rest == content.size() ? 0 : lineEnd - rest;
    return edit.offset + edit.insert.size() + after;
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
