#include "tests/service/tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace glimmerly::service::test {

ToolRun RunTool(const std::vector<std::string>& args, int timeoutSeconds) {
    ToolRun run;
    char logPath[] = "/tmp/glimmerly-tool-XXXXXX";
    int log = ::mkstemp(logPath);
    if (log < 0 || args.empty()) {
        run.output = "cannot run the tool";
        return run;
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (status != -1 && WIFEXITED(status)) {
        run.ended = true;
        run.status = WEXITSTATUS(status);
    }
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    run.output = text.str();
    ::unlink(logPath);
    return run;
}

} // namespace glimmerly::service::test
