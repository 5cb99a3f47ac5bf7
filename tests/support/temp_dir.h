#pragma once
// A private temporary folder for one test (mode 0700, under the system's temporary folder),
// removed with everything in it at the end.

#include <filesystem>
#include <string>

namespace glimmerly::testing {

class TempDir {
public:
    // The folder's name starts with prefix and ends in six random characters.
    explicit TempDir(const std::string& prefix = "glimmerly-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The path of an entry of the folder.
    std::string Path(const std::string& name) const { return (root_ / name).string(); }
    // Writes a file of these bytes and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path root_;
};

} // namespace glimmerly::testing
