#pragma once
// The modal picture editor. For now it shows the picture and hands the whole of it back; the
// clip, drawing and monitor tools come with their own pieces.

#include "editor/picture_editor.h"
#include "imaging/picture.h"

#include <QDialog>
#include <QImage>

class QLabel;
class QScrollArea;
class QEvent;

namespace glimmerly {

class ImageEditorForm : public QDialog, public PictureEditor {
    Q_OBJECT

public:
    explicit ImageEditorForm(QWidget* parent = nullptr);

    // The unedited picture, and the part of the edited one that is kept.
    Picture OriginalBitmap;
    Rect ClipRect;

    void SetPicture(const Picture& picture);
    Picture EditedPicture() const;

    EditorResult Edit(Picture picture, bool wholePicture) override;

    // The application-wide hook: the mouse wheel scrolls the picture by 40 pixels a notch while
    // the scroll area is the active control; such a wheel event counts as handled, so that the
    // scroll area does not scroll a second time by itself.
    bool AppMessage(QObject* receiver, QEvent* event);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QImage image_;
    QLabel* Image1 = nullptr;
    QScrollArea* ScrollBox1 = nullptr;
};

} // namespace glimmerly
