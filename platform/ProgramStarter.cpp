// Command-line splitting shared by every platform's program starter.
#include "platform/ProgramStarter.h"

#include <algorithm>

namespace tarnwick::platform {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    if (!words.empty())
        std::replace(words.front().begin(), words.front().end(), '\\', '/');
    return words;
}

} // namespace tarnwick::platform
