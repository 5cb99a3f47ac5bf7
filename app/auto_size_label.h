#pragma once
// A label that sizes itself to its caption and keeps its left and top edges, so a longer text
// is never cut at the label's box. It measures again whenever its text, font or style changes.

#include <QEvent>
#include <QLabel>

namespace glimmerly {

class AutoSizeLabel : public QLabel {
public:
    using QLabel::QLabel;

    // QLabel::setText is not virtual: the forms reach these labels through AutoSizeLabel
    // pointers, so every caption they set passes here.
    void setText(const QString& text) {
        QLabel::setText(text);
        adjustSize();
    }

protected:
    bool event(QEvent* event) override {
        const bool result = QLabel::event(event);
        switch (event->type()) {
        case QEvent::Polish:
        case QEvent::FontChange:
        case QEvent::StyleChange:
            adjustSize();
            break;
        default:
            break;
        }
        return result;
    }
};

} // namespace glimmerly
