// The settings the services take from the installation's parameter file. The
// program reads the file once, where its parts are put together, and builds
// the services from what it read; the services read no file of their own.
#pragma once

#include <list>
#include <string>
#include <utility>
#include <vector>

// How long the services wait for a server: to connect (TLS and bind
// included), and for each answer.
struct OvServiceTimeouts {
    unsigned connectionMs = 3000;
    unsigned methodSeconds = 120;
};

class OvServiceSettings {
public:
    OvServiceSettings() = default;
    // source: the file the settings come from, named in messages about it.
    explicit OvServiceSettings(std::string source);
    OvServiceSettings(const OvServiceSettings& other) = default;
    OvServiceSettings& operator=(const OvServiceSettings& other);
    // Values may be secrets (a service account's password): wiped when dropped.
    ~OvServiceSettings();

    // The value of key `name` of section `group`. The first value of a key in
    // a section counts; later ones are ignored.
    void Add(const std::string& group, const std::string& name, const std::string& value);
    // Section and key names ignore ASCII case. False when either is missing.
    bool FindSetting(const std::string& section, const std::string& key, std::string& value) const;
    // Every section and key, in the order the file gave them (no values).
    std::vector<std::pair<std::string, std::string>> Keys() const;
    const std::string& Source() const { return source_; }
    bool Empty() const { return settings_.empty(); }

    // Why the file, though there, was not read (larger than its limit, not a
    // regular file): the services go on with their defaults and say so.
    // Empty when it was read or is missing.
    std::string unreadReason;

private:
    struct Setting {
        std::string section;
        std::string key;
        std::string value;
    };
    Setting* Locate(const std::string& group, const std::string& name);
    const Setting* Locate(const std::string& group, const std::string& name) const;
    void Clear();

    std::string source_;
    // A list, so that a value never moves (and leaves a copy behind) while
    // the settings grow.
    std::list<Setting> settings_;
};

// Builds the services of the process from their settings and the time-outs
// they wait with; the services' proxies hand out what it built from then on.
using OvServiceBuilder = void (*)(const OvServiceSettings& settings,
                                  const OvServiceTimeouts& timeouts);
// The services' library registers its builder when it is loaded, as it
// registers its proxy factories.
void OvRegisterServiceBuilder(OvServiceBuilder builder);
// Builds the services through the registered builder, once the program has
// read their settings; false, and nothing built, when no builder is
// registered.
bool OvBuildServices(const OvServiceSettings& settings, const OvServiceTimeouts& timeouts);
