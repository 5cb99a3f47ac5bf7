#include "bench/service/process_cpu.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace glimmerly::bench {

namespace {

struct Stat {
    pid_t parent = 0;
    long long own = 0;      // utime + stime, in clock ticks
    long long children = 0; // cutime + cstime: ended children it has waited for
};

bool ReadStat(pid_t pid, Stat& out) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) {
        return false;
    }
    // The command name in parentheses may hold blanks: the fields start after its last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field[15];
    for (std::string& f : field) {
        fields >> f;
    }
    // From the state (field 3 of the file): ppid is field 4, utime..cstime fields 14 to 17.
    out.parent = static_cast<pid_t>(std::atol(field[1].c_str()));
    out.own = std::atoll(field[11].c_str()) + std::atoll(field[12].c_str());
    out.children = std::atoll(field[13].c_str()) + std::atoll(field[14].c_str());
    return static_cast<bool>(fields);
}

double Seconds(long long ticks) {
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

double CpuSeconds(pid_t pid) {
    Stat s;
    return pid > 0 && ReadStat(pid, s) ? Seconds(s.own) : 0;
}

double TreeCpuSeconds(pid_t parent) {
    Stat root;
    if (parent <= 0 || !ReadStat(parent, root)) {
        return 0;
    }
    long long ticks = root.own + root.children;
    if (DIR* proc = ::opendir("/proc")) {
        while (dirent* e = ::readdir(proc)) {
            char* end = nullptr;
            const long pid = std::strtol(e->d_name, &end, 10);
            Stat s;
            if (end != e->d_name && *end == '\0' && ReadStat(static_cast<pid_t>(pid), s) &&
                s.parent == parent) {
                ticks += s.own + s.children;
            }
        }
        ::closedir(proc);
    }
    return Seconds(ticks);
}

} // namespace glimmerly::bench
