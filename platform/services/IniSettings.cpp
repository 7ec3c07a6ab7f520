// A small reader of the parameter file for the services' own sections.
#include "platform/services/IniSettings.h"

#include <fstream>

#include "platform/services/Names.h"
#include "platform/services/Secret.h"

#include <string_view>

namespace ovdir {

const char* const kParameterFile = "orvane.ini";

namespace {

std::string Trim(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    const std::size_t end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

}  // namespace

bool ReadIniSetting(const std::string& file, const std::string& section, const std::string& key,
                    std::string& value)
{
    // The file holds the service account's password: every buffer a line
    // passes through is wiped before it is released.
    char buffer[4096];
    std::ifstream in;
    in.rdbuf()->pubsetbuf(buffer, sizeof buffer);
    in.open(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    line.reserve(256);
    std::string text;
    bool inSection = false;
    bool found = false;
    while (std::getline(in, line)) {
        WipeText(text);
        text = Trim(line);
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
        WipeText(value);
        value = Trim(std::string_view(text).substr(equals + 1));
        found = true;
        break;
    }
    in.close();
    WipeText(text);
    WipeText(line);
    WipeBytes(buffer, sizeof buffer);
    return found;
}

}  // namespace ovdir
