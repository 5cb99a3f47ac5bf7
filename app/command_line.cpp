#include "app/command_line.h"

#ifndef GLIMMERLY_VERSION
#define GLIMMERLY_VERSION "0"
#endif

namespace glimmerly {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    if (arguments.empty())
        return result;
    if (arguments.size() == 1) {
        const std::string& arg = arguments.front();
        if (arg == "--help" || arg == "-h") {
            result.action = CommandLineAction::Help;
            return result;
        }
        if (arg == "--version") {
            result.action = CommandLineAction::Version;
            return result;
        }
        if (arg == "--capture") {
            result.action = CommandLineAction::Capture;
            return result;
        }
    }
    result.action = CommandLineAction::Error;
    for (const std::string& arg : arguments) {
        if (arg != "--help" && arg != "-h" && arg != "--version" && arg != "--capture") {
            result.badArgument = arg;
            return result;
        }
    }
    result.badArgument = arguments[1]; // known options, but more than one
    return result;
}

std::string UsageText() {
    return "Aufruf: glimmerly [OPTION]\n"
           "Bildschirmfoto mit der Druck-Taste aufnehmen und hochladen.\n"
           "\n"
           "  --capture   das laufende Glimmerly nimmt ein Bildschirmfoto auf wie mit der\n"
           "              Druck-Taste; läuft keines, startet es und nimmt auf, sobald es bereit\n"
           "              ist\n"
           "  --version   Versionsnummer ausgeben\n"
           "  --help      diese Hilfe ausgeben\n";
}

std::string VersionText() {
    return "glimmerly " GLIMMERLY_VERSION "\n";
}

std::string BadArgumentText(const std::string& argument) {
    return "glimmerly: unbekanntes oder überzähliges Argument: " + argument + "\n" + UsageText();
}

} // namespace glimmerly
