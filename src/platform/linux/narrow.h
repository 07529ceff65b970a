#pragma once
// Texts are wide inside the program; files, paths and arguments on Linux take the
// locale's narrow encoding (UTF-8 on current systems).
#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {

// The text in the narrow encoding, or nothing when some character cannot be
// represented: such a text is refused, never written with a stand-in character.
std::optional<std::string> ToNarrow(std::wstring_view text);

// Bytes in the narrow encoding as text; a byte that does not decode is taken as
// Latin-1, so any file's bytes still read as something.
std::wstring FromNarrow(std::string_view bytes);

}  // namespace quenbrook
