// The process-wide proxy-factory registry and the shared counter of its smart pointer.
#include "services/OvProxyFactories.h"

#include "BuiltinFactories.h"

ProxyFactory::~ProxyFactory() = default;

OvSmartCounter::OvSmartCounter(void* objectToCount, void (*reap)(void*))
    : object(objectToCount), count(0), reap_(reap)
{
}

OvSmartCounter::~OvSmartCounter()
{
    if (reap_ != nullptr && object != nullptr) reap_(object);
}

OvProxyFactories::Pointer OvProxyFactories::Instance()
{
    // Made on first use and never destroyed: the counter keeps one reference
    // of its own that nobody gives back, so proxy handles released by static
    // destructors at process exit still find the registry and its factories.
    static OvSmartCounter* const counter = [] {
        auto* registry = new OvProxyFactories;
        OvSmartCounter* made = Pointer::MakeCounter(registry);
        made->count = 1;
        ovbase::RegisterBuiltinFactories(*registry);
        return made;
    }();
    return Pointer(counter);
}

void OvProxyFactories::Register(const std::string& key, ProxyFactory* factory)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (factory == nullptr) {
        factories_.erase(key);
    } else {
        factories_[key] = factory;
    }
}

void OvProxyFactories::Unregister(const std::string& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    factories_.erase(key);
}

ProxyFactory* OvProxyFactories::Registered(const std::string& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = factories_.find(key);
    return found == factories_.end() ? nullptr : found->second;
}

namespace {

// The registry, and with it the built-in factories, exists once static
// initialisation of this library is done, whatever else the program links.
const bool g_registryReady = (OvProxyFactories::Instance(), true);

}  // namespace
