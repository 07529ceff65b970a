#pragma once
// The main window's design as data: every control with its kind, container, caption,
// geometry in twips, tab order, colours and font. Each view builds the window from it.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quenbrook::layout {

// Twips per pixel at 96 dots per inch; views scale from there with the screen.
inline constexpr int kTwipsPerPixel = 15;

constexpr int ToPixels(int twips) { return twips / kTwipsPerPixel; }

struct Rgb {
    std::uint8_t r, g, b;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

struct Font {
    std::string_view face;
    double points;
};

enum class Kind { Label, Button, TextBox, Frame, FileDialog };

struct Control {
    std::string_view name;
    Kind kind;
    std::string_view container;  // empty: the window's client area
    std::wstring_view caption;
    int left, top, width, height;  // twips, relative to the container
    int tabIndex;                  // -1: takes no place in the tab order
    bool visible = true;
    bool enabled = true;
    std::optional<Rgb> foreground = std::nullopt;
    std::optional<Rgb> background = std::nullopt;
    std::optional<Font> font = std::nullopt;  // none: the window's default font
    bool centred = false;
    bool wordWrap = false;
    bool handPointer = false;  // the link labels
};

struct Window {
    std::wstring_view caption;
    int clientWidth, clientHeight;  // twips
    Rgb background;
    Font defaultFont;
};

// The window itself.
const Window& MainWindow();

// Every control, in tab order.
std::span<const Control> Controls();

// The control of that name, or nullptr.
const Control* Find(std::string_view name);

// The links behind the two link labels.
inline constexpr std::wstring_view kAuthorLink = L"mailto:quenbrook@example.org";
inline constexpr std::wstring_view kIdeaLink = L"http://www.example.org/Forum3/HTML/000051.html";

// The link labels' pointer: a hand with a raised index finger, 32 by 32, one row a string.
// 'X' black, '.' white, ' ' transparent.
inline constexpr int kHandCursorSize = 32;
inline constexpr int kHandHotSpotX = 5;
inline constexpr int kHandHotSpotY = 0;
std::span<const std::string_view> HandCursorRows();

}  // namespace quenbrook::layout
