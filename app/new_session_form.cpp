#include "new_session_form.h"

#include "editor/design_font.h"
#include "ui_new_session_form.h"

#include <QShowEvent>

namespace glimmerly {

NewSessionForm::NewSessionForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::NewSessionForm>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    move(430, 360); // designed place; uic sets only the size of a top-level form
    setFont(DesignFont(11));
    connect(ui_->Button1, &QPushButton::clicked, this, [this] { done(kResultOk); });
    connect(ui_->Button2, &QPushButton::clicked, this, [this] { done(kResultCancel); });
}

NewSessionForm::~NewSessionForm() = default;

int NewSessionForm::exec() {
    const int result = QDialog::exec();
    return result == kResultOk ? kResultOk : kResultCancel;
}

void NewSessionForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void NewSessionForm::FormShow() {
    ui_->SessionNameEdit->clear();
    ui_->SessionNameEdit->setFocus();
}

} // namespace glimmerly
