// The Qt window offscreen with real fonts: each control as it shows with its caption whole,
// its click reaching Form1 (the fake hears it); the window system's dialog and pointer.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>

#include "main_window/qt/form1_view.h"
#include "main_window/qt/platform_failure.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt_window_system.h"
#include "support/cases.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

QString Caption(QWidget* w) { return w->property(w->inherits("QGroupBox") ? "title" : "text").toString(); }

// Whether the caption shows whole at the control's font: inside a button's frame, wrapped
// where the control wraps.
bool Fits(QWidget* w) {
    QStyleOptionButton opt;
    opt.initFrom(w);
    const QRect room = qobject_cast<QPushButton*>(w)
        ? w->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, w).adjusted(0, -1, 0, 1) : w->contentsRect();
    const QRect needed = QFontMetrics(w->font()).boundingRect(
        QRect(0, 0, room.width(), 10000), w->property("wordWrap").toBool() ? Qt::TextWordWrap : 0, Caption(w));
    return needed.height() <= room.height() && needed.width() <= room.width();
}

class QtControls : public ::testing::TestWithParam<testing::Case> {};
TEST_P(QtControls, ShowSpeakAndPress) {
    const auto& row = GetParam();
    testing::FakePlatform fake;
    Form1Window window(fake, fake);
    window.Load();
    window.show();
    QWidget* w = window.control(row.name.c_str());
    ASSERT_NE(w, nullptr);
    const QRect g = w->geometry();
    const bool hand = w->cursor().shape() == Qt::BitmapCursor && w->cursor().hotSpot() == QPoint(5, 0);
    const QString shown = QStringLiteral("%1 %2,%3 %4x%5 %6pt %7")
        .arg(w->parentWidget()->objectName()).arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
        .arg(w->font().pointSizeF()).arg(w->palette().color(QPalette::Active, QPalette::WindowText).name()) +
        (w->isVisible() ? (Fits(w) ? "" : " cut") : " hidden") + (w->isEnabled() ? "" : " disabled") + (hand ? " hand" : "");
    EXPECT_EQ(shown.toStdString(), row[0]);
    EXPECT_EQ(Caption(w).toStdString(), row[1]);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).toStdString(), row[2]);
    if (!row.at(3)) return;
    // The mouse; for a button also Return and keypad Enter while it has the focus, each on
    // a window of its own.
    const int ways = qobject_cast<QPushButton*>(w) ? 3 : 1;
    for (int way = 0; way < ways; ++way) {
        testing::FakePlatform heard;
        Form1Window pressed(heard, heard);
        pressed.Load();
        pressed.show();
        QTest::keyClicks(pressed.control("civ2"), "C");  // so that Launch can be pressed
        QWidget* target = pressed.control(row.name.c_str());
        if (way == 0) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            target->setFocus();
            QTest::keyClick(target, way == 1 ? Qt::Key_Return : Qt::Key_Enter, way == 1 ? Qt::NoModifier : Qt::KeypadModifier);
        }
        EXPECT_NE(std::find(heard.calls.begin(), heard.calls.end(), row[3]), heard.calls.end())
            << "way " << way << ": " << ::testing::PrintToString(heard.calls);
    }
}
INSTANTIATE_CASES(QtControls, "qt_controls");

class PlatformFailures : public ::testing::TestWithParam<testing::Case> {};
TEST_P(PlatformFailures, OneLineSaysWhatIsMissing) {
    const auto& row = GetParam();
    std::vector<std::string> words;
    for (std::size_t i = 3; i < row.fields.size(); ++i) words.push_back(row[i]);
    EXPECT_EQ(PlatformFailure(words, row.at(0).value_or(""), row.at(1).value_or("")), row[2]);
}
INSTANTIATE_CASES(PlatformFailures, "platform_failure");

// A window of fixed size with a close box alone; the stored path shows; first focus, tab
// order and the focus ring; the close box ends the program and saves nothing. (Size, colour, title and Launch
// usable with a stored path: e2e.)
TEST(QtWindow, FrameStoredPathFocusCloseBox) {
    testing::FakePlatform fake;
    fake.values[L"c:\\windows\\civ.ini|civ2|path"] = L"C:\\MPS\\CIV2\\CIV2.EXE";
    Form1Window window(fake, fake);
    window.Load();
    window.show();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint), Qt::WindowCloseButtonHint);
    EXPECT_EQ(Caption(window.control("civ2")), QStringLiteral("C:\\MPS\\CIV2\\CIV2.EXE"));
    std::vector<std::string> chain;
    for (QWidget* w = window.focusWidget(); w && chain.size() < 12; w = w->nextInFocusChain())
        if (w->focusPolicy() != Qt::NoFocus && !w->objectName().isEmpty()) chain.push_back(w->objectName().toStdString());
    EXPECT_EQ(chain, (std::vector<std::string>{"Command2", "Command4", "Command5", "Text1", "Command1", "Command6",
                                               "Command3", "Command9", "civ2", "Command7", "Command8", "Command10"}));
    // Tab from control to control (the hidden ones skipped, round to the first again): the
    // focused one, and it alone, wears a black ring over its edge.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    std::vector<std::string> tabbed;
    QWidget* before = nullptr;
    for (int i = 0; i < 11; ++i) {
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        tabbed.push_back(now->objectName().toStdString());
        const QImage shot = window.grab().toImage();
        const auto edge = [&](QWidget* w) { return shot.pixelColor(w->mapTo(&window, QPoint(1, w->height() / 2))).name().toStdString(); };
        EXPECT_EQ(edge(now), "#000000") << tabbed.back();
        if (before) {
            EXPECT_NE(edge(before), "#000000") << before->objectName().toStdString();
        }
        before = now;
        QTest::keyClick(now, Qt::Key_Tab);
    }
    EXPECT_EQ(tabbed, (std::vector<std::string>{"Command2", "Command4", "Command5", "Command1", "Command6", "Command3",
                                                "Command9", "civ2", "Command7", "Command10", "Command2"}));
    window.close();
    EXPECT_EQ(fake.calls, std::vector<std::string>{"end"});
}

// The file filter in any letter case, the dialog's first folder, the busy pointer.
TEST(QtWindowSystem, FilterFolderAndPointer) {
    EXPECT_EQ(QtWindowSystem::NameFilters(L"Civ 2 (Civ2.exe)|Civ2.exe|"),
              QStringList(QStringLiteral("Civ 2 (Civ2.exe) ([Cc][Ii][Vv]2.[Ee][Xx][Ee])")));
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "drive_c/MPS/CIV2");
    LinuxSystem system(dir.path(), nullptr);
    QtWindowSystem ws(system);
    const QString driveC = QString::fromStdString((dir / "drive_c").string());
    EXPECT_EQ(ws.DialogFolder(L""), driveC);
    EXPECT_EQ(ws.DialogFolder(L"C:\\nowhere\\CIV2.EXE"), driveC);
    EXPECT_EQ(ws.DialogFolder(L"C:\\mps\\civ2\\CIV2.EXE"), driveC + "/MPS/CIV2");
    ws.SetMousePointer(kPointerHourglass);
    ws.SetMousePointer(kPointerHourglass);  // busy twice, one Default ends it
    EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : -1, Qt::WaitCursor);
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
