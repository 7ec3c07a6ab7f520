// A small reader of the parameter file for the services' own sections.
#include "platform/services/IniSettings.h"

#include <fstream>

#include "platform/services/Names.h"

namespace ovdir {

const char* const kParameterFile = "orvane.ini";

namespace {

std::string Trim(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

bool ReadIniSetting(const std::string& file, const std::string& section, const std::string& key,
                    std::string& value)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == ';' || text[0] == '#') continue;
        if (text[0] == '[') {
            const std::size_t close = text.find(']');
            inSection = close != std::string::npos &&
                        EqualsIgnoringCase(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos) continue;
        if (!EqualsIgnoringCase(Trim(text.substr(0, equals)), key)) continue;
        value = Trim(text.substr(equals + 1));
        return true;
    }
    return false;
}

}  // namespace ovdir
