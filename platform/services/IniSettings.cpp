// A small reader of the parameter file for the services' own sections.
#include "platform/services/IniSettings.h"

#include <string_view>

#include "framework/OvBoundedFile.h"
#include "platform/services/Names.h"
#include "services/OvCommFramework.h"

namespace ovdir {

const char* const kParameterFile = "orvane.ini";

namespace {

std::string_view Trim(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return std::string_view();
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Finds the key in the file's text; the text is only looked at, never copied.
bool FindSetting(std::string_view content, const std::string& section, const std::string& key,
                 std::string& value)
{
    bool inSection = false;
    std::size_t position = 0;
    while (position < content.size()) {
        std::size_t end = content.find('\n', position);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view text = Trim(content.substr(position, end - position));
        position = end + 1;
        if (text.empty() || text[0] == ';' || text[0] == '#') continue;
        if (text[0] == '[') {
            const std::size_t close = text.find(']');
            inSection = close != std::string_view::npos &&
                        EqualsIgnoringCase(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        if (!EqualsIgnoringCase(Trim(text.substr(0, equals)), key)) continue;
        value.assign(Trim(text.substr(equals + 1)));
        return true;
    }
    return false;
}

}  // namespace

bool ReadIniSetting(const std::string& file, const std::string& section, const std::string& key,
                    std::string& value)
{
    // Anything but a regular file within the limit (a FIFO, /dev/zero, a
    // folder) reads as a file without the key, at once.
    std::string content;
    if (OvReadBoundedFile(file, kOvParameterFileLimit, content) != 0) return false;
    const bool found = FindSetting(content, section, key, value);
    OvWipe(content);
    return found;
}

}  // namespace ovdir
