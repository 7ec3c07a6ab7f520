// The settings handed to the services, kept for the process.
#include "services/OvServiceSettings.h"

#include <mutex>
#include <utility>

#include "framework/OvString.h"
#include "services/OvCommFramework.h"

namespace {

struct Provided {
    std::mutex lock;
    OvServiceSettings settings;
};

// Never destroyed: services answer calls made from static destructors too.
Provided& TheProvided()
{
    static Provided* const provided = new Provided;
    return *provided;
}

}  // namespace

OvServiceSettings::OvServiceSettings(std::string source) : source_(std::move(source)) {}

OvServiceSettings& OvServiceSettings::operator=(const OvServiceSettings& other)
{
    if (this != &other) {
        Clear();
        source_ = other.source_;
        settings_ = other.settings_;
        timeouts = other.timeouts;
        unreadReason = other.unreadReason;
    }
    return *this;
}

OvServiceSettings::~OvServiceSettings() { Clear(); }

void OvServiceSettings::Clear()
{
    for (Setting& setting : settings_) OvWipe(setting.value);
    settings_.clear();
}

OvServiceSettings::Setting* OvServiceSettings::Locate(const std::string& group,
                                                      const std::string& name)
{
    for (Setting& setting : settings_) {
        if (OvEqualsIgnoringAsciiCase(setting.section, group) &&
            OvEqualsIgnoringAsciiCase(setting.key, name))
            return &setting;
    }
    return nullptr;
}

const OvServiceSettings::Setting* OvServiceSettings::Locate(const std::string& group,
                                                            const std::string& name) const
{
    return const_cast<OvServiceSettings*>(this)->Locate(group, name);
}

void OvServiceSettings::Add(const std::string& group, const std::string& name,
                            const std::string& value)
{
    if (Locate(group, name) != nullptr) return;
    // Built in place: the value is copied once, straight into its node.
    settings_.emplace_back();
    Setting& setting = settings_.back();
    setting.section = group;
    setting.key = name;
    setting.value = value;
}

std::vector<std::pair<std::string, std::string>> OvServiceSettings::Keys() const
{
    std::vector<std::pair<std::string, std::string>> keys;
    for (const Setting& setting : settings_) keys.emplace_back(setting.section, setting.key);
    return keys;
}

bool OvServiceSettings::FindSetting(const std::string& section, const std::string& key,
                                    std::string& value) const
{
    const Setting* setting = Locate(section, key);
    if (setting == nullptr) return false;
    value = setting->value;
    return true;
}

void OvServiceSettings::Forget(const std::string& group, const std::string& name)
{
    for (auto it = settings_.begin(); it != settings_.end(); ++it) {
        if (OvEqualsIgnoringAsciiCase(it->section, group) &&
            OvEqualsIgnoringAsciiCase(it->key, name)) {
            OvWipe(it->value);
            settings_.erase(it);
            return;
        }
    }
}

void OvProvideServiceSettings(const OvServiceSettings& settings)
{
    Provided& provided = TheProvided();
    std::lock_guard<std::mutex> guard(provided.lock);
    provided.settings = settings;
}

OvServiceSettings OvProvidedServiceSettings()
{
    Provided& provided = TheProvided();
    std::lock_guard<std::mutex> guard(provided.lock);
    return provided.settings;
}

OvServiceTimeouts OvProvidedServiceTimeouts()
{
    Provided& provided = TheProvided();
    std::lock_guard<std::mutex> guard(provided.lock);
    return provided.settings.timeouts;
}

void OvForgetProvidedServiceSetting(const std::string& group, const std::string& name)
{
    Provided& provided = TheProvided();
    std::lock_guard<std::mutex> guard(provided.lock);
    provided.settings.Forget(group, name);
}
