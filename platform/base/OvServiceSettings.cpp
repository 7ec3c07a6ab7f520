// The settings of the services' sections, wiped when dropped.
#include "services/OvServiceSettings.h"

#include <utility>

#include "framework/OvString.h"
#include "services/OvCommFramework.h"

OvServiceSettings::OvServiceSettings(std::string source) : source_(std::move(source)) {}

OvServiceSettings& OvServiceSettings::operator=(const OvServiceSettings& other)
{
    if (this != &other) {
        Clear();
        source_ = other.source_;
        settings_ = other.settings_;
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

namespace {

// Set while static objects are made, read afterwards.
OvServiceBuilder g_builder = nullptr;

}  // namespace

void OvRegisterServiceBuilder(OvServiceBuilder builder) { g_builder = builder; }

bool OvBuildServices(const OvServiceSettings& settings, const OvServiceTimeouts& timeouts)
{
    if (g_builder == nullptr) return false;
    g_builder(settings, timeouts);
    return true;
}
