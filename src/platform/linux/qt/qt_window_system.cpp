#include "platform/linux/qt/qt_window_system.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>
#include <mutex>

#include "platform/linux/narrow.h"
#include "platform/linux/wine_prefix/wine_paths.h"

namespace quenbrook {

namespace {
QString ToQ(const std::wstring& s) { return QString::fromStdWString(s); }
}  // namespace

namespace {
std::mutex gateMutex;
bool gateOpen = false;
}  // namespace

QtPostGate::QtPostGate() {
    const std::lock_guard lock(gateMutex);
    gateOpen = true;
}

QtPostGate::~QtPostGate() {
    const std::lock_guard lock(gateMutex);
    gateOpen = false;
}

void PostToQtThread(std::function<void()> f) {
    // An opener may finish after the window has gone; its answer then has no one to
    // reach. The lock holds the gate open until the post is queued.
    const std::lock_guard lock(gateMutex);
    if (QCoreApplication* app = QCoreApplication::instance(); app && gateOpen)
        QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

void QtWindowSystem::MessageBox(const std::wstring& text, const std::wstring& title) {
    QString body = ToQ(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::NoIcon, ToQ(title), body, QMessageBox::Ok, owner_);
    // Plain text, so that the messages' double spaces and quotes show as written.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList QtWindowSystem::NameFilters(const std::wstring& filter) {
    QStringList parts = ToQ(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString anyCase;
            for (QChar c : pattern) {
                if (c.isLetter())
                    anyCase += QLatin1Char('[') + c.toUpper() + c.toLower() + QLatin1Char(']');
                else
                    anyCase += c;
            }
            patterns << anyCase;
        }
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

QString QtWindowSystem::DialogFolder(const std::wstring& initialFile) const {
    if (!initialFile.empty()) {
        const QString host = ToQ(system_.HostPath(initialFile));
        const QFileInfo info(host);
        if (info.isDir()) return info.absoluteFilePath();
        if (info.absoluteDir().exists() && !info.path().isEmpty() && host.contains(QLatin1Char('/')))
            return info.absolutePath();
    }
    return ToQ(system_.HostPath(L"C:\\"));
}

std::optional<std::wstring> QtWindowSystem::ShowOpen(const std::wstring& filter,
                                                     const std::wstring& initialFile) {
    QFileDialog dialog(owner_);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The label keeps the filter's own description; the any-case patterns stay hidden.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(NameFilters(filter));
    dialog.setDirectory(DialogFolder(initialFile));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    // The game's own form is what gets stored: it holds when the prefix moves, and the
    // Windows build and the game read it. A file on no drive keeps its host path.
    const QString picked = dialog.selectedFiles().constFirst();
    if (const auto windows =
            WindowsFormOf(system_.prefix(), QFile::encodeName(picked).toStdString()))
        return FromNarrow(*windows);
    return QDir::toNativeSeparators(picked).toStdWString();
}

void QtWindowSystem::SetMousePointer(int pointer) {
    if (pointer == kPointerHourglass && !busy_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        busy_ = true;
    } else if (pointer == kPointerDefault && busy_) {
        QApplication::restoreOverrideCursor();
        busy_ = false;
    }
}

// Every write is on disk before any handler returns, so leaving the event loop at once
// loses nothing; no further handler runs.
void QtWindowSystem::EndProgram() { QCoreApplication::exit(0); }

}  // namespace quenbrook

namespace quenbrook {

std::optional<std::filesystem::path> AskForPrefix(const std::vector<LauncherPrefix>& candidates,
                                                  bool& remember) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Quenbrook"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Several Wine prefixes hold a civ.ini. "
                                                "Which one does your Civ 2 use?")));
    auto* list = new QListWidget;
    for (const LauncherPrefix& candidate : candidates)
        list->addItem(QStringLiteral("%1  (%2)")
                          .arg(QString::fromStdString(candidate.path.string()),
                               QString::fromStdWString(candidate.launcher)));
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* keep = new QCheckBox(QStringLiteral("Remember my choice"));
    keep->setChecked(true);
    layout->addWidget(keep);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
    remember = keep->isChecked();
    return candidates[static_cast<std::size_t>(list->currentRow())].path;
}

}  // namespace quenbrook
