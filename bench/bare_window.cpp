// The yardstick for Quenbrook's start-up time and memory: a bare Qt window of the same
// size with the same number and kinds of controls, and nothing else.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setFixedSize(377, 241);

    // Two frames with two buttons each, as in Quenbrook's window.
    QGroupBox* frames[2];
    for (int i = 0; i < 2; ++i) {
        frames[i] = new QGroupBox(QStringLiteral("Frame %1").arg(i + 1), &window);
        frames[i]->setGeometry(6 + 180 * i, 90, 175, 50);
        for (int j = 0; j < 2; ++j)
            (new QPushButton(QStringLiteral("Button"), frames[i]))->setGeometry(12 + 100 * j, 18, 90, 21);
    }
    for (int i = 0; i < 5; ++i) {
        auto* label = new QLabel(QStringLiteral("A label with a line of text, %1").arg(i), &window);
        label->setGeometry(6, 6 + 16 * i, 360, 16);
        label->setWordWrap(true);
    }
    // Six more buttons on the window, one of them hidden.
    for (int i = 0; i < 6; ++i) {
        auto* button = new QPushButton(QStringLiteral("Button %1").arg(i), &window);
        button->setGeometry(6 + 62 * i, 192, 58, 21);
        button->setVisible(i != 5);
    }
    auto* edit = new QLineEdit(QStringLiteral("C:\\MPS\\CIV2\\CIV2.EXE"), &window);
    edit->setGeometry(88, 150, 217, 19);
    auto* hidden = new QLineEdit(QStringLiteral("1"), &window);
    hidden->setGeometry(0, 64, 10, 19);
    hidden->hide();

    window.show();
    return QApplication::exec();
}
