#include "tests/support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace glimmerly::testing {

TempDir::TempDir(const std::string& prefix) {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when the folder could be created (it did not exist).
    std::random_device random;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
        std::filesystem::path candidate =
            std::filesystem::temp_directory_path() / (prefix + suffix);
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            root_ = candidate;
        }
    }
    if (root_.empty()) {
        throw std::runtime_error("no temporary folder for the test: " + prefix);
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary folder for the test: " + pattern);
    }
    root_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

} // namespace glimmerly::testing
