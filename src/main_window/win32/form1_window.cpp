#include "main_window/win32/form1_window.h"

#include <cmath>

#include "resource_ids.h"

namespace quenbrook {

namespace {

constexpr wchar_t kClassName[] = L"QuenbrookForm1";
// No WS_CLIPCHILDREN: the group boxes leave their inside to the window's background.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr int kFirstControlId = 1000;

COLORREF ToColorRef(layout::Rgb c) { return RGB(c.r, c.g, c.b); }

std::wstring Wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

using Handler = void (Form1::*)();
struct Click {
    std::string_view name;
    Handler handler;
};
constexpr Click kClickHandlers[] = {
    {"Command1", &Form1::Command1_Click}, {"Command2", &Form1::Command2_Click},
    {"Command3", &Form1::Command3_Click}, {"Command4", &Form1::Command4_Click},
    {"Command5", &Form1::Command5_Click}, {"Command6", &Form1::Command6_Click},
    {"Command7", &Form1::Command7_Click}, {"Command8", &Form1::Command8_Click},
    {"Command9", &Form1::Command9_Click}, {"Command10", &Form1::Command10_Click},
    {"Label2", &Form1::Label2_Click},     {"Label3", &Form1::Label3_Click},
};

// The window class and styles of one control of the design.
struct NativeKind {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

NativeKind KindOf(const layout::Control& c) {
    switch (c.kind) {
    case layout::Kind::Label: {
        // Labels report clicks (the link labels) and never take '&' as a shortcut.
        const DWORD align = c.centred ? SS_CENTER : (c.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP);
        return {L"STATIC", align | SS_NOTIFY | SS_NOPREFIX, 0};
    }
    case layout::Kind::Button:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case layout::Kind::TextBox:
        return {L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case layout::Kind::Frame:
        return {L"BUTTON", BS_GROUPBOX, 0};
    case layout::Kind::FileDialog:
        break;
    }
    return {nullptr, 0, 0};
}

}  // namespace

Form1Window::Form1Window(SystemCalls& system, Win32WindowSystem& windowSystem)
    : windowSystem_(windowSystem), form_(system, windowSystem, *this) {}

Form1Window::~Form1Window() {
    if (window_) DestroyWindow(window_);
    for (auto& [points, font] : fonts_) DeleteObject(font);
    if (background_) DeleteObject(background_);
}

int Form1Window::Pixels(int twips) const { return MulDiv(twips, dpi_, 1440); }

bool Form1Window::Create(HINSTANCE instance) {
    const layout::Window& design = layout::MainWindow();
    if (HDC screen = GetDC(nullptr)) {
        dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    background_ = CreateSolidBrush(ToColorRef(design.background));
    hand_ = LoadCursor(instance, MAKEINTRESOURCE(QUENBROOK_HAND_CURSOR));
    if (!hand_) hand_ = LoadCursor(nullptr, IDC_HAND);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIcon(instance, MAKEINTRESOURCE(QUENBROOK_ICON));
    windowClass.hIconSm = static_cast<HICON>(LoadImage(instance, MAKEINTRESOURCE(QUENBROOK_ICON),
                                                       IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background_;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return false;

    // The design gives the client area; the frame comes on top of it.
    RECT frame{0, 0, Pixels(design.clientWidth), Pixels(design.clientHeight)};
    AdjustWindowRect(&frame, kWindowStyle, FALSE);
    const std::wstring caption(design.caption);
    window_ = CreateWindowExW(0, kClassName, caption.c_str(), kWindowStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                              nullptr, nullptr, instance, this);
    if (!window_) return false;
    windowSystem_.SetOwner(window_);
    BuildControls(instance);
    return true;
}

// Creation order is the table's order, which is the tab order.
void Form1Window::BuildControls(HINSTANCE instance) {
    const layout::Window& design = layout::MainWindow();
    int id = kFirstControlId;
    for (const layout::Control& c : layout::Controls()) {
        ++id;
        const NativeKind kind = KindOf(c);
        if (!kind.className) continue;  // the file dialog is no control
        // A frame's controls are the window's children placed inside the frame, so that
        // their notifications reach this window.
        int left = c.left, top = c.top;
        if (!c.container.empty()) {
            const layout::Control* container = layout::Find(c.container);
            left += container->left;
            top += container->top;
        }
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | kind.style;
        if (c.visible) style |= WS_VISIBLE;
        if (!c.enabled) style |= WS_DISABLED;
        const std::wstring caption(c.caption);
        HWND control = CreateWindowExW(kind.exStyle, kind.className, caption.c_str(), style,
                                       Pixels(left), Pixels(top), Pixels(c.width), Pixels(c.height),
                                       window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       instance, nullptr);
        if (!control) continue;
        SendMessageW(control, WM_SETFONT,
                     reinterpret_cast<WPARAM>(FontFor(c.font ? *c.font : design.defaultFont)), FALSE);
        controls_.push_back({&c, control});
    }
    // A child created first lies on top; the frames go under the buttons they hold.
    // Tabbing skips them, so their place in that order does not matter.
    for (const Built& b : controls_)
        if (b.design->kind == layout::Kind::Frame)
            SetWindowPos(b.window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

HFONT Form1Window::FontFor(const layout::Font& font) {
    if (auto it = fonts_.find(font.points); it != fonts_.end()) return it->second;
    const std::wstring face = Wide(font.face);
    const int height = -static_cast<int>(std::lround(font.points * dpi_ / 72.0));
    HFONT created = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, face.c_str());
    fonts_.emplace(font.points, created);
    return created;
}

void Form1Window::Show(int showCommand) {
    form_.Form_Load();
    RECT area{}, frame{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    lastFocus_ = Control("Command2");
    SetFocus(lastFocus_);
}

int Form1Window::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!ReturnClicksFocusedButton(message) && !IsDialogMessageW(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        OutlineFocusedButton();
    }
    return static_cast<int>(message.wParam);
}

// The design has no default button: Return presses the focused button, as Space does,
// and does nothing elsewhere. The dialog manager would press only a button it had made
// the default, which the first focus never is.
bool Form1Window::ReturnClicksFocusedButton(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    const Built* focused = Find(GetFocus());
    if (focused && focused->design->kind == layout::Kind::Button && IsWindowEnabled(focused->window))
        SendMessageW(focused->window, BM_CLICK, 0, 0);
    return true;
}

// Only the focused button wears the default outline; the dialog manager leaves it on a
// button the focus has left.
void Form1Window::OutlineFocusedButton() {
    const HWND focused = GetFocus();
    for (const Built& b : controls_) {
        if (b.design->kind != layout::Kind::Button) continue;
        const bool outlined = (GetWindowLongW(b.window, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        if (outlined != (b.window == focused))
            SendMessageW(b.window, BM_SETSTYLE, b.window == focused ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
}

void Form1Window::SetCiv2Text(const std::wstring& text) {
    settingCiv2_ = true;
    SetWindowTextW(Control("civ2"), text.c_str());
    settingCiv2_ = false;
}

void Form1Window::SetCommand7Enabled(bool enabled) { EnableWindow(Control("Command7"), enabled); }

HWND Form1Window::Control(std::string_view name) const {
    for (const Built& b : controls_)
        if (b.design->name == name) return b.window;
    return nullptr;
}

const Form1Window::Built* Form1Window::Find(HWND control) const {
    for (const Built& b : controls_)
        if (b.window == control) return &b;
    return nullptr;
}

void Form1Window::Clicked(std::string_view name) {
    for (const Click& click : kClickHandlers)
        if (click.name == name) (form_.*click.handler)();
}

LRESULT CALLBACK Form1Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Form1Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->window_) return DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT Form1Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const Built* built = Find(reinterpret_cast<HWND>(lParam));
        if (!built) break;
        const WORD code = HIWORD(wParam);
        const layout::Control& c = *built->design;
        if ((c.kind == layout::Kind::Button && code == BN_CLICKED) ||
            (c.kind == layout::Kind::Label && code == STN_CLICKED)) {
            Clicked(c.name);
        } else if (c.name == "civ2" && code == EN_CHANGE && !settingCiv2_) {
            const int length = GetWindowTextLengthW(built->window);
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(built->window, text.data(), length + 1)));
            form_.civ2_Edited(text);
        }
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        const Built* built = Find(reinterpret_cast<HWND>(lParam));
        if (!built || built->design->kind == layout::Kind::TextBox) break;
        HDC dc = reinterpret_cast<HDC>(wParam);
        const layout::Control& c = *built->design;
        SetTextColor(dc, c.foreground ? ToColorRef(*c.foreground) : GetSysColor(COLOR_BTNTEXT));
        SetBkColor(dc, ToColorRef(layout::MainWindow().background));
        return reinterpret_cast<LRESULT>(background_);
    }
    case WM_SETCURSOR: {
        // The busy pointer stays while the mouse moves; the link labels show the hand.
        if (windowSystem_.busy()) {
            SetCursor(LoadCursor(nullptr, IDC_WAIT));
            return TRUE;
        }
        const Built* built = Find(reinterpret_cast<HWND>(wParam));
        if (built && built->design->handPointer && LOWORD(lParam) == HTCLIENT) {
            SetCursor(hand_);
            return TRUE;
        }
        break;
    }
    case WM_ACTIVATE:
        // A plain window forgets its focused control when a message box takes over;
        // keep it, so the keyboard goes on where the user left it.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focused = GetFocus(); focused && IsChild(window_, focused)) lastFocus_ = focused;
        } else if (lastFocus_ && IsWindowEnabled(lastFocus_)) {
            const LRESULT result = DefWindowProcW(window_, message, wParam, lParam);
            SetFocus(lastFocus_);
            return result;
        }
        break;
    case WM_CLOSE:
        form_.Form_QueryUnload();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace quenbrook
