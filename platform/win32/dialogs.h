#pragma once
// The system's common dialogs the program opens on Windows. Both are modal to their owner window
// and run their own message loop. Internal to platform/win32; no Qt.

#include <cstdint>
#include <optional>
#include <string>

namespace glimmerly::platform::win32 {

// The file for storing a JPEG locally (GetSaveFileNameW): the one filter "JPEG-Dateien (*.jpg)",
// "jpg" added to a name without an extension, asks before an existing file is replaced. The
// chosen path as UTF-8 (any length, any characters); nullopt when the user cancels.
std::optional<std::string> AskJpegSaveFileName(std::uintptr_t owner);

// The system colour chooser (ChooseColorA) opened on `initial` (0x00BBGGRR, a COLORREF); any
// colour may be chosen. The custom colours the user sets stay for the next opening in this run.
// nullopt when the user cancels.
std::optional<std::uint32_t> ChooseColour(std::uintptr_t owner, std::uint32_t initial);

} // namespace glimmerly::platform::win32
