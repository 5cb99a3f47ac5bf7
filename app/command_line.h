#pragma once
// glimmerly's command line: no arguments starts the program; --capture asks the running copy
// for a capture (or starts one that captures once ready); --help and --version print and end.

#include <string>
#include <vector>

namespace glimmerly {

enum class CommandLineAction { Run, Capture, Help, Version, Error };

struct CommandLine {
    CommandLineAction action = CommandLineAction::Run;
    std::string badArgument; // for Error
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text (German, ends with a newline).
std::string UsageText();
// "glimmerly <version>" and a newline.
std::string VersionText();
// What goes to the error output for a bad argument: the argument and the usage text.
std::string BadArgumentText(const std::string& argument);

// Exit status for a bad argument.
inline constexpr int kExitUsage = 2;

} // namespace glimmerly
