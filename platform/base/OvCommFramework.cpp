// The communication framework proxy and its factory, the kept communication
// parameters, the configuration-service location and the password wrapper.
#include "services/OvCommFramework.h"

#include <mutex>
#include <string>

#include "BuiltinFactories.h"
#include "services/OvProxyFactories.h"

namespace {

// Process-wide state of the framework; made on first use and never destroyed,
// so services and handles torn down at process exit can still read it.
struct FrameworkState {
    std::mutex lock;
    OvCommParameters parameters;
    std::string location;
    bool started = false;
    OvCommStarter starter = nullptr;
};

FrameworkState& State()
{
    static FrameworkState* const state = new FrameworkState;
    return *state;
}

class OvCommFrameworkProxy : public OvCommFramework {
public:
    explicit OvCommFrameworkProxy(unsigned) {}

    OvCommFramework* GetInterface() override { return this; }

    unsigned SetCommParameters(OvCommParameters& parameters) override
    {
        std::lock_guard<std::mutex> guard(State().lock);
        State().parameters = parameters;
        return 0;
    }

    unsigned Start() override
    {
        OvCommStarter starter;
        std::string location;
        OvCommParameters parameters;
        {
            std::lock_guard<std::mutex> guard(State().lock);
            State().started = true;
            starter = State().starter;
            location = State().location;
            parameters = State().parameters;
        }
        // Outside the lock: opening a connection may take a while.
        return starter != nullptr ? starter(location, parameters) : 0;
    }
};

}  // namespace

OvCommFramework::~OvCommFramework() = default;

namespace ovbase {

void RegisterBuiltinFactories(OvProxyFactories& registry)
{
    static TypedProxyFactory<OvCommFramework, OvCommFrameworkProxy>* const factory =
        new TypedProxyFactory<OvCommFramework, OvCommFrameworkProxy>;
    registry.Register(ProxyKey<OvCommFramework>(), factory);
}

}  // namespace ovbase

OvCommParameters CurrentCommParameters()
{
    std::lock_guard<std::mutex> guard(State().lock);
    return State().parameters;
}

void OvSetCommStarter(OvCommStarter starter)
{
    std::lock_guard<std::mutex> guard(State().lock);
    State().starter = starter;
}

void OvConfigServiceProxy::SetLocation(const char* location)
{
    std::lock_guard<std::mutex> guard(State().lock);
    State().location = location != nullptr ? location : "";
}

std::string OvConfigServiceProxy::GetLocation()
{
    std::lock_guard<std::mutex> guard(State().lock);
    return State().location;
}

OvWIFFLEPassword::OvWIFFLEPassword(const OvWString& password, bool) : password_(password) {}

OvWIFFLEPassword::~OvWIFFLEPassword() { OvWipe(password_); }

namespace {

// Writes through a volatile pointer so the compiler cannot drop the stores
// as dead just before the buffer is emptied. The whole buffer is wiped, not
// only the text it holds now: a shorter text may sit on a longer one's bytes.
template <class Char>
void WipeCharacters(std::basic_string<Char>& secret)
{
    secret.resize(secret.capacity());
    volatile Char* characters = &secret[0];
    for (std::size_t i = 0; i < secret.size(); ++i) characters[i] = Char();
    secret.clear();
}

}  // namespace

void OvWipe(std::string& secret) { WipeCharacters(secret); }

void OvWipe(std::wstring& secret) { WipeCharacters(secret); }

void OvWipe(OvWString& secret) { WipeCharacters(secret.utf8()); }
