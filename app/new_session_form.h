#pragma once
// The dialog that asks for the session name. It always opens empty.

#include <QDialog>

#include <memory>

namespace Ui {
class NewSessionForm;
}

namespace glimmerly {

class NewSessionForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;

    explicit NewSessionForm(QWidget* parent = nullptr);
    ~NewSessionForm() override;

    Ui::NewSessionForm& Controls() { return *ui_; }

    // 1 for OK, 2 for Cancel, Escape, the system menu or the close box.
    int exec() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    std::unique_ptr<Ui::NewSessionForm> ui_;
};

} // namespace glimmerly
