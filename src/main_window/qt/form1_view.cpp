#include "main_window/qt/form1_view.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "main_window/layout.h"

namespace quenbrook {

namespace {

using layout::ToPixels;

QColor ToQColor(layout::Rgb c) { return QColor(c.r, c.g, c.b); }

QFont ToQFont(const layout::Font& f) {
    QFont font(Form1Window::HostFamily(f.face));
    font.setPointSizeF(f.points);
    font.setWeight(QFont::Normal);
    return font;
}

// The link labels' hand: black where 'X', white where '.', clear elsewhere.
QCursor HandCursor() {
    const int n = layout::kHandCursorSize;
    QImage bits(n, n, QImage::Format_Mono), mask(n, n, QImage::Format_Mono);
    bits.fill(0);
    mask.fill(0);
    auto rows = layout::HandCursorRows();
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const char c = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            bits.setPixel(x, y, c == 'X' ? 1 : 0);
            mask.setPixel(x, y, c == ' ' ? 0 : 1);
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), layout::kHandHotSpotX,
                   layout::kHandHotSpotY);
}

using Handler = void (Form1::*)();
const std::map<std::string_view, Handler> kClickHandlers = {
    {"Command1", &Form1::Command1_Click}, {"Command2", &Form1::Command2_Click},
    {"Command3", &Form1::Command3_Click}, {"Command4", &Form1::Command4_Click},
    {"Command5", &Form1::Command5_Click}, {"Command6", &Form1::Command6_Click},
    {"Command7", &Form1::Command7_Click}, {"Command8", &Form1::Command8_Click},
    {"Command9", &Form1::Command9_Click}, {"Command10", &Form1::Command10_Click},
    {"Label2", &Form1::Label2_Click},     {"Label3", &Form1::Label3_Click},
};

// What a screen reader says for a control whose caption alone does not say what it is.
const std::map<std::string_view, const char*> kSpokenNames = {
    {"Command1", "Do It: Set Option and Leave File Alone"},
    {"Command6", "Do It: Set Option and Set File Read Only"},
    {"Command3", "Explain Set Option and Leave File Alone"},
    {"Command9", "Explain Set Option and Set File Read Only"},
    {"civ2", "Civ 2 Location: the game's location, the path of Civ2.exe"},
    {"Text1", "Value of the option"},
    {"Command8", "Set civ.ini read-only"},
};

// A push button that Return and keypad Enter press as Space does, as on Windows, where
// the focused button takes Return. Outside a dialog Qt gives Return only to default
// buttons, whose frame would change the button's look.
class Button : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!event->isAutoRepeat()) click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// A 2-pixel black ring drawn over the edge of the focused control, whatever the style:
// the styles' own focus hint is a faint line on the olive window. It lets the mouse
// through and takes no focus.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FocusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

    void Follow(QWidget* target) {
        if (!target || !target->isVisible()) {
            hide();
            return;
        }
        setParent(target->parentWidget());
        setGeometry(target->geometry());
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int width = 2;
        painter.fillRect(0, 0, this->width(), width, Qt::black);
        painter.fillRect(0, height() - width, this->width(), width, Qt::black);
        painter.fillRect(0, 0, width, height(), Qt::black);
        painter.fillRect(this->width() - width, 0, width, height(), Qt::black);
    }
};

}  // namespace

Form1Window::Form1Window(SystemCalls& system, WindowSystem& window)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      form_(system, window, *this) {
    Build();
}

QString Form1Window::HostFamily(std::string_view face) {
    // "MS Sans Serif" is a Windows bitmap font; Liberation Sans has Arial's metrics,
    // close to it, and DejaVu Sans is on every Debian desktop.
    if (face == "MS Sans Serif") {
        const QStringList installed = QFontDatabase::families();
        for (const char* family : {"Liberation Sans", "Arimo", "DejaVu Sans"})
            if (installed.contains(QLatin1String(family))) return QLatin1String(family);
    }
    return QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size()));
}

void Form1Window::Build() {
    const layout::Window& design = layout::MainWindow();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromWCharArray(design.caption.data(),
                                           static_cast<qsizetype>(design.caption.size())));
    setFixedSize(ToPixels(design.clientWidth), ToPixels(design.clientHeight));
    setFont(ToQFont(design.defaultFont));
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, ToQColor(design.background));
    setPalette(windowPalette);
    setAutoFillBackground(true);

    QWidget* previousInTabOrder = nullptr;
    for (const layout::Control& c : layout::Controls()) {
        if (c.kind == layout::Kind::FileDialog) continue;  // not on the window
        QWidget* parent = c.container.empty() ? this : controls_.at(std::string(c.container));
        const QString caption =
            QString::fromWCharArray(c.caption.data(), static_cast<qsizetype>(c.caption.size()));
        QWidget* w = nullptr;
        switch (c.kind) {
        case layout::Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(c.wordWrap);
            label->setAlignment(c.centred ? Qt::AlignHCenter | Qt::AlignTop : Qt::AlignLeft | Qt::AlignTop);
            if (c.handPointer) {
                label->setCursor(HandCursor());
                label->installEventFilter(this);
            }
            w = label;
            break;
        }
        case layout::Kind::Button: {
            auto* button = new Button(caption, parent);
            button->setAutoDefault(false);
            if (auto it = kClickHandlers.find(c.name); it != kClickHandlers.end())
                connect(button, &QPushButton::clicked, this, [this, h = it->second] { (form_.*h)(); });
            w = button;
            break;
        }
        case layout::Kind::TextBox: {
            auto* edit = new QLineEdit(caption, parent);
            w = edit;
            break;
        }
        case layout::Kind::Frame: {
            w = new QGroupBox(caption, parent);
            w->setAutoFillBackground(true);
            break;
        }
        case layout::Kind::FileDialog:
            break;
        }
        w->setObjectName(QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())));
        w->setGeometry(ToPixels(c.left), ToPixels(c.top), ToPixels(c.width), ToPixels(c.height));
        if (c.font) w->setFont(ToQFont(*c.font));
        QPalette p = w->palette();
        if (c.foreground) p.setColor(QPalette::WindowText, ToQColor(*c.foreground));
        if (c.background) p.setColor(QPalette::Window, ToQColor(*c.background));
        w->setPalette(p);
        const auto spoken = kSpokenNames.find(c.name);
        w->setAccessibleName(spoken != kSpokenNames.end() ? QString::fromUtf8(spoken->second) : caption);
        w->setEnabled(c.enabled);
        w->setVisible(c.visible);
        if (w->focusPolicy() != Qt::NoFocus) {
            if (previousInTabOrder) setTabOrder(previousInTabOrder, w);
            previousInTabOrder = w;
        }
        controls_.emplace(std::string(c.name), w);
    }

    civ2_ = static_cast<QLineEdit*>(controls_.at("civ2"));
    command7_ = static_cast<QPushButton*>(controls_.at("Command7"));
    // Only the user's edits are events; text that Form1 sets is already in its state.
    connect(civ2_, &QLineEdit::textEdited, this,
            [this](const QString& text) { form_.civ2_Edited(text.toStdWString()); });

    auto* ring = new FocusRing(this);
    connect(qApp, &QApplication::focusChanged, ring, [this, ring](QWidget*, QWidget* now) {
        ring->Follow(now && now->window() == this && now != this ? now : nullptr);
    });
}

void Form1Window::Load() {
    form_.Form_Load();
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    controls_.at("Command2")->setFocus(Qt::OtherFocusReason);
}

QWidget* Form1Window::control(const char* name) const {
    auto it = controls_.find(std::string_view(name));
    return it == controls_.end() ? nullptr : it->second;
}

void Form1Window::SetCiv2Text(const std::wstring& text) {
    civ2_->setText(QString::fromStdWString(text));
}

void Form1Window::SetCommand7Enabled(bool enabled) { command7_->setEnabled(enabled); }

void Form1Window::closeEvent(QCloseEvent* event) {
    event->accept();
    form_.Form_QueryUnload();
}

bool Form1Window::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (auto it = kClickHandlers.find(watched->objectName().toStdString());
            it != kClickHandlers.end()) {
            (form_.*(it->second))();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quenbrook
