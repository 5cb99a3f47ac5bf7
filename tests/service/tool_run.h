#pragma once
// Runs a program to its end for a test (a command-line tool, or a service start that must be
// refused) and gives back its exit status and everything it wrote.

#include <string>
#include <vector>

namespace glimmerly::service::test {

struct ToolRun {
    bool ended = false; // exited on its own within the time given
    int status = -1;    // its exit status when it ended, else -1
    std::string output; // stdout and stderr together
};

// Runs args[0] (a path) with the arguments; kills it after timeoutSeconds.
ToolRun RunTool(const std::vector<std::string>& args, int timeoutSeconds = 60);

} // namespace glimmerly::service::test
