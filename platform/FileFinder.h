// Finding a file by its path, as the Dir function does.
#pragma once

#include <string>

namespace tarnwick::platform {

// Attribute bits that widen the search beyond ordinary files.
inline constexpr int kAttributeNormal = 0;
inline constexpr int kAttributeHidden = 2;
inline constexpr int kAttributeSystem = 4;
inline constexpr int kAttributeDirectory = 16;

class FileFinder {
public:
    virtual ~FileFinder() = default;
    // The name (last path component) of the file that `path` names when it matches
    // `attributes`; the empty text when there is none. Backslashes separate folders.
    virtual std::string FindFile(const std::string& path, int attributes) = 0;
};

FileFinder& SystemFileFinder();

} // namespace tarnwick::platform
