// The Qt window as built from the layout table, on the offscreen platform with real
// fonts: names, captions, places, states, fonts that fit, and events reaching Form1.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <filesystem>

#include "main_window/layout.h"
#include "main_window/qt/form1_view.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt_window_system.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

using testing::FakePlatform;

// The application object lives in main(), so that it ends before Qt's own statics.
void App() { ASSERT_NE(qApp, nullptr); }

// How many lines a laid-out text takes.
int LinesOf(const QRect& text, const QFontMetrics& fm) {
    return qRound(static_cast<double>(text.height()) / fm.lineSpacing());
}

class QtViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        window = std::make_unique<Form1Window>(fake, fake);
        window->Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QWidget* Control(const layout::Control& c) { return window->control(std::string(c.name).c_str()); }

    FakePlatform fake;
    std::unique_ptr<Form1Window> window;
};

TEST_F(QtViewTest, EveryControlStandsWhereTheDesignPutsItWithItsCaptionWhole) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quenbrook"));
    EXPECT_EQ(window->size(), QSize(377, 241));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window must not resize";
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(192, 192, 0));

    for (const layout::Control& c : layout::Controls()) {
        if (c.kind == layout::Kind::FileDialog) continue;
        QWidget* w = Control(c);
        ASSERT_NE(w, nullptr) << c.name;
        const QString name = QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size()));
        EXPECT_EQ(w->objectName(), name);
        EXPECT_EQ(w->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15)) << c.name;
        const std::string_view parent = c.container.empty() ? std::string_view("Form1") : c.container;
        EXPECT_EQ(w->parentWidget()->objectName().toStdString(), parent) << c.name;
        EXPECT_EQ(w->isVisible(), c.visible) << c.name;
        EXPECT_EQ(w->isEnabled(), c.enabled) << c.name;
        const QString caption = QString::fromWCharArray(c.caption.data(), static_cast<qsizetype>(c.caption.size()));
        if (auto* b = qobject_cast<QAbstractButton*>(w)) { EXPECT_EQ(b->text(), caption); }
        if (auto* l = qobject_cast<QLabel*>(w)) { EXPECT_EQ(l->text(), caption); }
        if (auto* g = qobject_cast<QGroupBox*>(w)) { EXPECT_EQ(g->title(), caption); }
        if (c.foreground) { EXPECT_EQ(w->palette().color(QPalette::WindowText), QColor(c.foreground->r, c.foreground->g, c.foreground->b)) << c.name; }
        if (c.font) { EXPECT_DOUBLE_EQ(w->font().pointSizeF(), c.font->points) << c.name; }
        if (c.handPointer) {
            EXPECT_EQ(w->cursor().shape(), Qt::BitmapCursor) << c.name;
            EXPECT_EQ(w->cursor().hotSpot(), QPoint(5, 0)) << c.name;
        }
        // The caption shows whole at the stand-in font.
        if (!w->isVisible() || c.caption.empty()) continue;
        const QFontMetrics fm(w->font());
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            // The room the style leaves for the text inside the button's frame.
            QStyleOptionButton opt;
            opt.initFrom(b);
            const QRect inside = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
            EXPECT_LE(fm.horizontalAdvance(caption), inside.width()) << c.name;
            EXPECT_LE(fm.height(), inside.height() + 2) << c.name;
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            const QRect needed = fm.boundingRect(QRect(0, 0, l->width(), 10000),
                                                 Qt::TextWordWrap | Qt::AlignHCenter, caption);
            EXPECT_LE(needed.height(), l->height()) << c.name << " would be cut";
            if (!c.wordWrap) { EXPECT_EQ(LinesOf(needed, fm), 1) << c.name << " must fit on one line"; }
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            EXPECT_LE(fm.horizontalAdvance(caption), g->width()) << c.name;
        }
    }
    EXPECT_EQ(static_cast<QLineEdit*>(window->control("Text1"))->text(), QStringLiteral("1"));
    // The headline wraps to two lines, as designed.
    auto* label1 = static_cast<QLabel*>(window->control("Label1"));
    const QFontMetrics fm(label1->font());
    const QRect headline = fm.boundingRect(QRect(0, 0, label1->width(), 10000), Qt::TextWordWrap, label1->text());
    EXPECT_EQ(LinesOf(headline, fm), 2);
    EXPECT_LT(window->control("Label7")->x(), 0) << "Label7 starts outside the client area";
}

TEST_F(QtViewTest, TabOrderAndFirstFocusFollowTheDesign) {
    EXPECT_EQ(QApplication::focusWidget(), window->control("Command2"));
    // Walking the chain from View civ.ini visits the focusable controls in design order.
    std::vector<std::string> expected;
    for (const layout::Control& c : layout::Controls()) {
        QWidget* w = Control(c);
        if (w && w->focusPolicy() != Qt::NoFocus && c.tabIndex >= 0) expected.push_back(std::string(c.name));
    }
    std::vector<std::string> chain;
    QWidget* w = window->control(expected.front().c_str());
    for (std::size_t i = 0; i < expected.size(); ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty()) w = w->nextInFocusChain();
        chain.push_back(w->objectName().toStdString());
    }
    EXPECT_EQ(chain, expected);
}

// Typing, clicks and the close box reach Form1 (the fake hears them); its state shows.
TEST_F(QtViewTest, EventsReachForm1AndItsStateShows) {
    auto* civ2 = static_cast<QLineEdit*>(window->control("civ2"));
    QTest::keyClicks(civ2, "C");
    EXPECT_TRUE(window->control("Command7")->isEnabled());
    QTest::keyClick(civ2, Qt::Key_Backspace);
    EXPECT_FALSE(window->control("Command7")->isEnabled());
    fake.calls.clear();
    for (const char* name : {"Command3", "Label3"}) QTest::mouseClick(window->control(name), Qt::LeftButton);
    window->close();
    EXPECT_EQ(fake.calls, (std::vector<std::string>{
        "message Quenbrook: Pressing this button will edit your civ.ini file and will allow you to select "
        "simultaneous turns, when you start your next game (Multiplayer).  But it will reset after the game. "
        "If you want it to stay, use the other button.",
        "pointer 11", "shell http://www.example.org/Forum3/HTML/000051.html", "pointer 0", "end"}));

    FakePlatform stored;
    stored.files[L"c:\\windows\\civ.ini"][L"civ2"][L"path"] = L"C:\\MPS\\CIV2\\CIV2.EXE";
    Form1Window w(stored, stored);
    w.Load();
    EXPECT_EQ(static_cast<QLineEdit*>(w.control("civ2"))->text(), QStringLiteral("C:\\MPS\\CIV2\\CIV2.EXE"));
    EXPECT_TRUE(w.control("Command7")->isEnabled());
}

// The file filter in any letter case, the dialog's first folder, the busy pointer.
TEST(QtWindowSystemTest, FilterFolderAndPointer) {
    App();
    const QStringList filters = QtWindowSystem::NameFilters(L"Civ 2 (Civ2.exe)|Civ2.exe|");
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Civ 2 (Civ2.exe) (")));
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(filters[0].section('(', 2).chopped(1)));
    for (const char* name : {"CIV2.EXE", "civ2.exe", "cIv2.ExE", "civ2.ini", "xciv2.exe"})
        EXPECT_EQ(re.match(QLatin1String(name)).hasMatch(), std::string(name).size() == 8 && name[5] != 'i') << name;

    testing::TempDir dir;
    std::filesystem::create_directories(dir / "drive_c/MPS/CIV2");
    LinuxSystem system(dir.path(), nullptr);
    QtWindowSystem ws(system);
    const QString driveC = QString::fromStdString((dir / "drive_c").string());
    EXPECT_EQ(ws.DialogFolder(L""), driveC);
    EXPECT_EQ(ws.DialogFolder(L"C:\\nowhere\\CIV2.EXE"), driveC);
    EXPECT_EQ(ws.DialogFolder(L"C:\\mps\\civ2\\CIV2.EXE"), driveC + "/MPS/CIV2");

    ws.SetMousePointer(kPointerHourglass);
    ws.SetMousePointer(kPointerHourglass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ws.SetMousePointer(kPointerDefault);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace quenbrook

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Never a real display, also when CTest lists the tests at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
