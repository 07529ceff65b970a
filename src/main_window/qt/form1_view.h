#pragma once
// The Qt view of Form1: builds the window from the layout table, forwards each event to
// Form1 and shows its state.
#include <QWidget>
#include <map>
#include <string>

#include "main_window/form1.h"

class QLineEdit;
class QPushButton;

namespace quenbrook {

class Form1Window : public QWidget, public Form1View {
public:
    Form1Window(SystemCalls& system, WindowSystem& window);

    Form1& form() { return form_; }

    // Runs the load handler, centres the window and puts the focus where the design does.
    void Load();

    // The control of that design name (its objectName), or nullptr.
    QWidget* control(const char* name) const;

    void SetCiv2Text(const std::wstring& text) override;
    void SetCommand7Enabled(bool enabled) override;

    // Family that stands in for a design font that this host lacks.
    static QString HostFamily(std::string_view face);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();

    Form1 form_;
    std::map<std::string, QWidget*, std::less<>> controls_;
    QLineEdit* civ2_ = nullptr;
    QPushButton* command7_ = nullptr;
};

}  // namespace quenbrook
