#include "platform/linux/narrow.h"

#include <climits>
#include <cwchar>

namespace quenbrook {

std::optional<std::string> ToNarrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (wchar_t c : text) {
        if (c == L'\0') return std::nullopt;  // would cut the text short
        const std::size_t n = std::wcrtomb(buffer, c, &state);
        if (n == static_cast<std::size_t>(-1)) return std::nullopt;
        out.append(buffer, n);
    }
    return out;
}

std::wstring FromNarrow(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    std::mbstate_t state{};
    std::size_t i = 0;
    while (i < bytes.size()) {
        wchar_t c = 0;
        const std::size_t n = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
            state = std::mbstate_t{};
            ++i;
        } else if (n == 0) {  // an embedded NUL
            out.push_back(L'\0');
            ++i;
        } else {
            out.push_back(c);
            i += n;
        }
    }
    return out;
}

}  // namespace quenbrook
