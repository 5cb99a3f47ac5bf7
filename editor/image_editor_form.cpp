#include "image_editor_form.h"

#include "imaging/qt/picture_qimage.h"
#include "resources/design_font.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace glimmerly {

ImageEditorForm::ImageEditorForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ImageEditorForm"));
    setWindowTitle(QStringLiteral("Screenshot bearbeiten"));
    setGeometry(210, 138, 889, 652);
    setFont(DesignFont(11));
    setStyleSheet(QStringLiteral("#ImageEditorForm, #ScrollBox1 { background-color: #a3a3a3; }"));

    auto* layout = new QVBoxLayout(this);
    auto* done = new QPushButton(QStringLiteral("Bearbeitung beenden"), this);
    done->setObjectName(QStringLiteral("Panel2"));
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(done, 0, Qt::AlignRight);
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    ScrollBox1->setWidget(Image1);
    layout->addWidget(ScrollBox1, 1);
}

void ImageEditorForm::SetPicture(const Picture& picture) {
    image_ = ToQImage(picture);
    Image1->setPixmap(QPixmap::fromImage(image_));
    Image1->resize(image_.size());
}

Picture ImageEditorForm::EditedPicture() const {
    return FromQImage(image_);
}

EditorResult ImageEditorForm::Edit(Picture picture, bool /*wholePicture*/) {
    SetPicture(picture);
    OriginalBitmap = std::move(picture);
    exec();
    // Let the windows behind repaint now that the editor has gone.
    QCoreApplication::processEvents();
    return {EditedPicture(), ClipRect};
}

void ImageEditorForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ClipRect = Rect{0, 0, image_.width(), image_.height()};
}

bool ImageEditorForm::AppMessage(QObject* /*receiver*/, QEvent* event) {
    if (event->type() != QEvent::Wheel || focusWidget() != ScrollBox1)
        return false;
    const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
    QScrollBar* bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() + (delta > 0 ? -40 : 40));
    return true; // scrolled here: the scroll area must not scroll a second time
}

} // namespace glimmerly
