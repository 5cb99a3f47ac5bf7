#pragma once
// A private temporary folder for one test, removed with everything in it afterwards.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace glimmerly::net::testing {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "glimmerly-net-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes a file of these bytes and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = (path_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace glimmerly::net::testing
