// Settings read in each shape the key check must follow; EntryLimit,
// ExtraServers and PasswordFile are missing from the page beside this folder,
// and one call names its key by a variable.
#include <string>

namespace {

constexpr const char* kSection = "UserService";
constexpr const char* kLimitKey = "EntryLimit";

struct Row {
    const char* section;
    const char* key;
};
const Row kRows[] = {{"UserService", "Directory"}, {"TransIdService", "Sessions"}};

}  // namespace

bool ReadIniSetting(const std::string& file, const std::string& section, const std::string& key,
                    std::string& value);

// A reader of one section's keys.
bool UserServiceSetting(const char* keyName, std::string& value)
{
    return ReadIniSetting("orvane.ini", kSection, keyName, value);
}

void ReadSettings(const std::string& name, std::string& value)
{
    ReadIniSetting("orvane.ini", kSection, kLimitKey, value);
    // ReadIniSetting("orvane.ini", "UserService", "CommentedOut", value);
    auto setting = [&](const char* section, const char* key) {
        return ReadIniSetting("orvane.ini", section, key, value);
    };
    setting("UserService", "ExtraServers");
    setting(kRows[0].section, kRows[0].key);
    ReadIniSetting("orvane.ini", "UserService", name, value);
    UserServiceSetting("PasswordFile", value);
}
