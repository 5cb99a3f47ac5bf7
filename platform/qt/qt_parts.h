#pragma once
// What the toolkit does the same on every Linux desktop: its file dialog and colour chooser, and
// its drop events. Internal to the Linux backends; the program gets them through
// CreatePlatform(). The windows are found by their window system id (QWidget::find).

#include "platform/platform.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace glimmerly::platform::qt {

class QtDialogs : public Dialogs {
public:
    // QFileDialog in its save mode, with the path in the file system's encoding
    // (QFile::encodeName).
    std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner) override;
    // QColorDialog.
    std::optional<Colour> ChooseColour(std::uintptr_t owner, Colour initial) override;
};

// Drops through the toolkit's drag and drop: the armed window takes drags of local files
// (setAcceptDrops and an event filter in front of the window's own handlers), and each drop's
// paths are handed on from the event loop once the drag source has its answer.
class QtFileDrops : public QObject, public FileDrops {
public:
    void Accept(std::uintptr_t window, bool on) override;
    void SetHandler(std::function<void(const std::vector<std::string>& paths)> onDrop) override {
        onDrop_ = std::move(onDrop);
    }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const std::vector<std::string>&)> onDrop_;
};

} // namespace glimmerly::platform::qt
