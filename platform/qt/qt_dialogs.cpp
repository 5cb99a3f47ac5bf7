#include "platform/qt/qt_parts.h"

#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QWidget>

namespace glimmerly::platform::qt {

namespace {

QWidget* Window(std::uintptr_t owner) {
    return owner == 0 ? nullptr : QWidget::find(static_cast<WId>(owner));
}

} // namespace

std::optional<std::string> QtDialogs::AskJpegSaveFileName(std::uintptr_t owner) {
    QFileDialog dialog(Window(owner));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile); // a new file name must be allowed
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    dialog.setNameFilter(QStringLiteral("JPEG-Dateien (*.jpg)"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
}

std::optional<Colour> QtDialogs::ChooseColour(std::uintptr_t owner, Colour initial) {
    const QColor chosen =
        QColorDialog::getColor(QColor(initial.red, initial.green, initial.blue), Window(owner));
    if (!chosen.isValid())
        return std::nullopt;
    return Colour{static_cast<std::uint8_t>(chosen.red()),
                  static_cast<std::uint8_t>(chosen.green()),
                  static_cast<std::uint8_t>(chosen.blue())};
}

} // namespace glimmerly::platform::qt
