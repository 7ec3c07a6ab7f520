// One reading of the parameter file for the services' settings.
#include "config/OvServiceSettingsFile.h"

#include <cerrno>
#include <string_view>

#include "config/IniReaders.h"
#include "framework/OvBoundedFile.h"
#include "framework/OvString.h"
#include "services/OvCommFramework.h"

namespace {

// Reads the lines of the text into settings; the text is only looked at.
void ParseSettings(std::string_view content, OvServiceSettings& settings)
{
    std::string group;
    bool inSection = false;
    std::size_t position = 0;
    while (position < content.size()) {
        std::size_t end = content.find('\n', position);
        if (end == std::string_view::npos) end = content.size();
        const std::string_view line = OvTrimLineBlanks(content.substr(position, end - position));
        position = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos;
            if (inSection) group.assign(OvTrimLineBlanks(line.substr(1, close - 1)));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        std::string value(OvTrimLineBlanks(line.substr(equals + 1)));
        settings.Add(group, std::string(OvTrimLineBlanks(line.substr(0, equals))), value);
        OvWipe(value);
    }
}

}  // namespace

OvServiceSettings ReadServiceSettings(const std::string& file)
{
    OvServiceSettings settings(file);
    std::string content;
    const int error = OvReadBoundedFile(file, kOvParameterFileLimit, content);
    if (error == 0)
        ParseSettings(content, settings);
    else if (error != ENOENT && error != EISDIR)  // a folder counts as a missing file
        settings.unreadReason = OvFileErrorText(error, kOvParameterFileLimit);
    OvWipe(content);
    return settings;
}
