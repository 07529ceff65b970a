#include "platform/linux/civ_ini/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/linux/ascii.h"

namespace quenbrook {

namespace {

constexpr std::string_view kCodePageKey = "System\\CurrentControlSet\\Control\\Nls\\CodePage";

// One iconv conversion, closed when done.
class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : cd_(::iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (valid()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts in; stops at the first byte that does not convert. Returns how many bytes
    // of in were taken; out gets what came of them.
    std::size_t Run(std::string_view in, std::string& out) {
        char* src = const_cast<char*>(in.data());
        std::size_t left = in.size();
        char buffer[4096];
        while (left > 0) {
            char* dst = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t r = ::iconv(cd_, &src, &left, &dst, &room);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) break;
        }
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        ::iconv(cd_, nullptr, nullptr, &dst, &room);  // shift state back to the start
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        return in.size() - left;
    }

private:
    iconv_t cd_;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A registry key name as system.reg writes it, with each '\' doubled, made plain.
std::string Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out.push_back(s[i]);
    }
    return out;
}

std::string_view Wide(std::wstring_view text) {
    return {reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)};
}

}  // namespace

std::optional<unsigned> CodePageFromRegistry(std::string_view systemReg) {
    bool inKey = false;
    while (!systemReg.empty()) {
        const std::size_t end = systemReg.find('\n');
        const std::string_view line = Trim(systemReg.substr(0, end));
        systemReg.remove_prefix(end == std::string_view::npos ? systemReg.size() : end + 1);
        if (line.starts_with('[')) {
            const std::size_t close = line.rfind(']');
            inKey = close != std::string_view::npos &&
                    EqualsIgnoringAsciiCase(Unescape(line.substr(1, close - 1)), kCodePageKey);
            continue;
        }
        if (!inKey || !line.starts_with('"')) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos ||
            !EqualsIgnoringAsciiCase(Trim(line.substr(0, eq)), "\"ACP\""))
            continue;
        std::string_view value = Trim(line.substr(eq + 1));
        if (value.size() < 3 || value.front() != '"' || value.back() != '"') return std::nullopt;
        value = value.substr(1, value.size() - 2);
        unsigned cp = 0;
        for (char c : value) {
            if (c < '0' || c > '9' || cp > 100000) return std::nullopt;
            cp = cp * 10 + static_cast<unsigned>(c - '0');
        }
        if (cp == 0) return std::nullopt;
        return cp;
    }
    return std::nullopt;
}

unsigned CodePageFromLocale(std::string_view locale) {
    const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
    const std::string_view language = name.substr(0, name.find('_'));
    const std::string_view country =
        name.find('_') == std::string_view::npos ? "" : name.substr(name.find('_') + 1);
    if (language == "zh")
        return (country == "TW" || country == "HK" || country == "MO") ? 950 : 936;
    if (language == "sr") return locale.find("@latin") != std::string_view::npos ? 1250 : 1251;
    static const struct {
        const char* languages;
        unsigned codePage;
    } kTable[] = {
        {" cs hu pl ro hr sk sl sq bs ", 1250},
        {" ru uk be bg mk kk ky mn tt ", 1251},
        {" el ", 1253},
        {" tr az uz ", 1254},
        {" he ", 1255},
        {" ar fa ur ", 1256},
        {" et lv lt ", 1257},
        {" vi ", 1258},
        {" th ", 874},
        {" ja ", 932},
        {" ko ", 949},
    };
    if (language.size() >= 2)
        for (const auto& row : kTable)
            if (std::string_view(row.languages).find(" " + std::string(language) + " ") !=
                std::string_view::npos)
                return row.codePage;
    return 1252;
}

unsigned PrefixCodePage(const std::filesystem::path& prefix) {
    std::ifstream in(prefix / "system.reg", std::ios::binary);
    std::string line;
    std::string section;
    // Only the lines of the one key are kept: system.reg runs to megabytes.
    bool keep = false;
    while (std::getline(in, line)) {
        if (line.starts_with('[')) {
            if (keep) break;
            std::string lower = line;
            for (char& c : lower) c = LowerAscii(c);
            keep = lower.find("nls\\\\codepage]") != std::string::npos;
        }
        if (keep) section.append(line).push_back('\n');
    }
    if (const auto cp = CodePageFromRegistry(section)) return *cp;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return CodePageFromLocale(value);
    return 1252;
}

std::string FileEncoding(std::string_view head, unsigned codePage) {
    if (head.starts_with("\xEF\xBB\xBF")) return "UTF-8";
    if (head.starts_with("\xFF\xFE")) return "UTF-16LE";
    if (head.starts_with("\xFE\xFF")) return "UTF-16BE";
    if (codePage == 65001) return "UTF-8";
    if (codePage == 874) return "WINDOWS-874";
    return "CP" + std::to_string(codePage);
}

std::optional<std::string> Encode(std::wstring_view text, const std::string& encoding) {
    Converter convert(encoding, "WCHAR_T");
    if (!convert.valid()) return std::nullopt;
    std::string out;
    const std::string_view in = Wide(text);
    if (convert.Run(in, out) != in.size()) return std::nullopt;
    return out;
}

std::wstring Decode(std::string_view bytes, const std::string& encoding) {
    Converter convert("WCHAR_T", encoding);
    std::wstring out;
    if (!convert.valid()) {
        for (char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        return out;
    }
    std::string wide;
    while (!bytes.empty()) {
        const std::size_t taken = convert.Run(bytes, wide);
        bytes.remove_prefix(taken);
        if (bytes.empty()) break;
        const wchar_t latin1 = static_cast<unsigned char>(bytes.front());
        wide.append(reinterpret_cast<const char*>(&latin1), sizeof latin1);
        bytes.remove_prefix(1);
    }
    out.assign(reinterpret_cast<const wchar_t*>(wide.data()), wide.size() / sizeof(wchar_t));
    return out;
}

std::string Utf16ToUtf8(std::string_view utf16) {
    const bool little = utf16.starts_with("\xFF\xFE");
    std::string out;
    out.reserve(utf16.size());
    const auto unit = [&](std::size_t at) {
        const auto a = static_cast<unsigned char>(utf16[at]),
                   b = static_cast<unsigned char>(utf16[at + 1]);
        return little ? a | b << 8 : a << 8 | b;
    };
    const std::size_t end = utf16.size() & ~std::size_t{1};
    for (std::size_t at = 2; at < end; at += 2) {
        unsigned c = unit(at);
        if (c >= 0xD800 && c < 0xDC00 && at + 2 < end) {
            if (const unsigned low = unit(at + 2); low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                at += 2;
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {  // a lone surrogate too
            out.push_back(static_cast<char>(0xE0 | c >> 12));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | c >> 18));
            out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> Utf8ToUtf16(std::string_view utf8, const std::string& encoding) {
    const bool little = encoding == "UTF-16LE";
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    out.reserve(utf8.size() * 2 + 2);
    const auto put = [&](unsigned u) {
        const char a = static_cast<char>(u & 0xFF), b = static_cast<char>(u >> 8);
        out.push_back(little ? a : b);
        out.push_back(little ? b : a);
    };
    for (std::size_t at = 0; at < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const int length = lead < 0x80 ? 1 : lead >= 0xF0 && lead < 0xF5 ? 4
                           : lead >= 0xE0                ? 3
                           : lead >= 0xC2 && lead < 0xE0 ? 2
                                                         : 0;
        if (length == 0 || at + length > utf8.size()) return std::nullopt;
        unsigned c = length == 1 ? lead : lead & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(utf8[at + i]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            c = c << 6 | (next & 0x3F);
        }
        const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF) return std::nullopt;
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
        at += static_cast<std::size_t>(length);
    }
    return out;
}

}  // namespace quenbrook
