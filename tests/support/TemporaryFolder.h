// A folder under the system's temporary directory that is removed with everything in it, and
// an environment variable set for one scope.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace tarnwick::testing {

class TemporaryFolder {
public:
    static constexpr auto kReadWrite =
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

    // Writes a file below the folder (creating folders on the way) and returns its path.
    std::string WriteFile(const std::string& relativePath, const std::string& content,
                          std::filesystem::perms permissions = kReadWrite) {
        std::filesystem::create_directories((path_ / relativePath).parent_path());
        std::ofstream(path_ / relativePath, std::ios::binary) << content;
        std::filesystem::permissions(path_ / relativePath, permissions);
        return *this / relativePath;
    }
    // An executable shell script that runs `body`.
    std::string WriteScript(const std::string& relativePath, const std::string& body) {
        return WriteFile(relativePath, "#!/bin/sh\n" + body + "\n",
                         std::filesystem::perms::owner_all);
    }

private:
    std::filesystem::path path_;
};

// Waits (at most ten seconds) until `file` holds a whole line; returns its content.
inline std::string WaitForFile(const std::string& file) {
    std::string content;
    for (int wait = 0; (content.empty() || content.back() != '\n') && wait < 2000; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream in(file);
        content.assign(std::istreambuf_iterator<char>(in), {});
    }
    return content;
}

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace tarnwick::testing
