// How the editor's input reaches the designed handlers: the keys of the window, the mouse on the
// picture and on the tool panels, and the application's wheel hook.
#include "editor/image_editor_form.h"

#include "ui_image_editor_form.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

namespace glimmerly {
namespace {

bool IsClick(QEvent* event, QWidget* widget) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    return mouse->button() == Qt::LeftButton &&
           widget->rect().contains(mouse->position().toPoint());
}

} // namespace

void ImageEditorForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape)
        close();
    else
        QDialog::keyPressEvent(event);
}

bool ImageEditorForm::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == ui_->Edit1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            close(); // the text being typed is lost
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Edit1KeyPress(key);
            return true;
        }
        return false;
    }
    if (widget == ui_->Image1 && event->type() == QEvent::Move) {
        text_->FollowPicture(); // scrolled
        line_->FollowPicture();
        return false;
    }
    if (widget == ui_->Image1 || widget == ui_->ScrollBox1->viewport()) {
        if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseMove &&
            event->type() != QEvent::MouseButtonRelease &&
            event->type() != QEvent::MouseButtonDblClick)
            return false;
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        // Presses in the empty part of the scroll area count in picture pixels as well.
        return PictureEvent(widget == ui_->Image1 ? at : at - ui_->Image1->pos(), event);
    }
    if (std::find(toolPanels_.begin(), toolPanels_.end(), widget) != toolPanels_.end())
        return PanelEvent(widget, event);
    if (widget == ui_->ColorPanel && event->type() == QEvent::MouseButtonRelease &&
        IsClick(event, widget)) {
        ColorPanelClick();
        return true;
    }
    return false;
}

bool ImageEditorForm::PictureEvent(QPoint at, QEvent* event) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        Image1MouseDown(mouse->button(), at);
        return true;
    case QEvent::MouseMove:
        Image1MouseMove(at);
        return true;
    default: // release: a left one is also a click
        Image1MouseUp(at);
        if (mouse->button() == Qt::LeftButton)
            Image1Click();
        return true;
    }
}

bool ImageEditorForm::PanelEvent(QWidget* panel, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        SelectMode(panel); // CmdMouseDown: any button
        return true;
    }
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    if (panel == ui_->CmdUndo) {
        if (IsClick(event, panel))
            CmdUndoClick();
        SelectMode(ui_->CmdUndo); // CmdUndoMouseUp
    } else if (panel == ui_->Panel2) {
        SetBevel(panel, false); // Panel2MouseUp
        if (IsClick(event, panel))
            accept(); // Panel2Click
    }
    return true;
}

bool ImageEditorForm::AppMessage(QObject* receiver, QEvent* event) {
    // Only the editor's own wheel, and only while it is up: a hidden editor keeps its focus
    // widget, and the main window's wheel or that of the colour chooser are not the picture's.
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (event->type() != QEvent::Wheel || !isVisible() || !widget || widget->window() != this)
        return false;
    QScrollArea* scroll = ui_->ScrollBox1;
    QWidget* focus = focusWidget();
    if (focus != scroll) {
        // The wheel goes with the keyboard: while the text box or the monitor list has it,
        // the picture stays (the scroll area must not scroll it by itself), and the list takes
        // the wheel only when it has the keyboard.
        return !focus || (widget != focus && !focus->isAncestorOf(widget));
    }
    // One vertical step moves 40 pixels, however far the wheel turned; a tilt sideways and a
    // report of no turn at all (the end of a touchpad scroll) move nothing.
    const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
    if (delta != 0) {
        QScrollBar* bar = scroll->verticalScrollBar();
        bar->setValue(bar->value() + (delta > 0 ? -40 : 40));
    }
    return true; // handled here: the scroll area must not scroll a second time
}

} // namespace glimmerly
