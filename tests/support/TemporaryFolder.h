// A folder under the system's temporary directory that is removed with everything in it.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace tarnwick::testing {

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary folder");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // Writes a file below the folder (creating folders on the way) and returns its path.
    std::string
    WriteFile(const std::string& relativePath, const std::string& content,
              std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::owner_write) {
        const std::filesystem::path file = path_ / relativePath;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        std::filesystem::permissions(file, permissions);
        return file.string();
    }
    // A shell script that runs `body`.
    std::string WriteScript(const std::string& relativePath, const std::string& body) {
        return WriteFile(relativePath, "#!/bin/sh\n" + body + "\n",
                         std::filesystem::perms::owner_all);
    }

private:
    std::filesystem::path path_;
};

// Waits until `file` exists and is not empty, at most `limit`; returns its content.
inline std::string WaitForFile(const std::filesystem::path& file,
                               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (std::filesystem::file_size(file, error) > 0 && !error) {
            std::ifstream in(file);
            std::string content((std::istreambuf_iterator<char>(in)), {});
            if (!content.empty() && content.back() == '\n')
                return content;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
}

// Sets an environment variable for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            hadValue_ = true;
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (hadValue_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    bool hadValue_ = false;
    std::string old_;
};

} // namespace tarnwick::testing
