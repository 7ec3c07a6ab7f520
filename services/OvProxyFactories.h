// The process-wide proxy-factory registry, its smart pointer, and the typed
// create and release operations.
//
// A service library registers one ProxyFactory per interface class, keyed by
// the interface's run-time type name (ProxyKey<T>()). The registry lives until
// the process ends, so handles released by static destructors still find it.
#pragma once

#include <mutex>
#include <string>
#include <typeinfo>
#include <unordered_map>

#include "framework/OvOS.h"
#include "services/OvCommException.h"

class ProxyFactory {
public:
    virtual ~ProxyFactory();
    // A new proxy of the factory's interface class, or null.
    virtual void* Create(unsigned creationArgument) = 0;
    // Takes back a proxy that Create made.
    virtual void Release(void* proxy) = 0;
};

template <class T>
struct DefaultReaper {
    static void Reap(T* object) { delete object; }
};

// The shared counter record of OvSmartPointer.
class OvSmartCounter {
public:
    OvSmartCounter(void* object, void (*reap)(void*));
    virtual ~OvSmartCounter();

    void* object;
    unsigned count;
    CRITICAL_SECTION section;

private:
    void (*reap_)(void*);
};

template <class T, class Reaper>
class OvSmartPointer {
public:
    OvSmartPointer() = default;
    explicit OvSmartPointer(OvSmartCounter* counter) : counter_(counter) { AddRef(); }
    OvSmartPointer(const OvSmartPointer& other) : counter_(other.counter_) { AddRef(); }
    OvSmartPointer& operator=(const OvSmartPointer& other)
    {
        if (this != &other) {
            Drop();
            counter_ = other.counter_;
            AddRef();
        }
        return *this;
    }
    virtual ~OvSmartPointer() { Drop(); }

    T* Get() const { return counter_ ? static_cast<T*>(counter_->object) : nullptr; }
    T* operator->() const { return Get(); }

    // Makes a counter for an object, reaped by Reaper when the last reference goes.
    static OvSmartCounter* MakeCounter(T* object)
    {
        return new OvSmartCounter(object, [](void* p) { Reaper::Reap(static_cast<T*>(p)); });
    }

private:
    void AddRef()
    {
        if (!counter_) return;
        OvOS::LockCriticalSection(counter_->section);
        ++counter_->count;
        OvOS::UnlockCriticalSection(counter_->section);
    }
    void Drop()
    {
        if (!counter_) return;
        OvOS::LockCriticalSection(counter_->section);
        const unsigned left = --counter_->count;
        OvOS::UnlockCriticalSection(counter_->section);
        if (left == 0) delete counter_;
        counter_ = nullptr;
    }

    OvSmartCounter* counter_ = nullptr;
};

template <class T>
std::string ProxyKey()
{
    return typeid(T).name();
}

class OvProxyFactories {
public:
    using Pointer = OvSmartPointer<OvProxyFactories, DefaultReaper<OvProxyFactories>>;

    static Pointer Instance();

    // Registration by the service libraries. A later registration under the
    // same key replaces the earlier one; the registry does not own factories.
    void Register(const std::string& key, ProxyFactory* factory);
    void Unregister(const std::string& key);
    // The factory registered under key, or null.
    ProxyFactory* Registered(const std::string& key);

    // 0 and the proxy; kOvNoFactoryFound; kOvFactoryFailed when the factory
    // made none. The pointer is written only on success.
    template <class T>
    unsigned CreateProxy(T*& proxy, unsigned creationArgument)
    {
        const std::string key = ProxyKey<T>();
        std::lock_guard<std::mutex> guard(lock_);
        auto found = factories_.find(key);
        if (found == factories_.end()) return kOvNoFactoryFound;
        void* made = found->second->Create(creationArgument);
        if (made == nullptr) return kOvFactoryFailed;
        proxy = static_cast<T*>(made);
        return 0;
    }

    // 0, or kOvNoFactoryFound when no factory takes the proxy back.
    template <class T>
    unsigned ReleaseProxy(T*& proxy)
    {
        const std::string key = ProxyKey<T>();
        std::lock_guard<std::mutex> guard(lock_);
        auto found = factories_.find(key);
        if (found == factories_.end()) return kOvNoFactoryFound;
        found->second->Release(proxy);
        return 0;
    }

private:
    std::mutex lock_;
    std::unordered_map<std::string, ProxyFactory*> factories_;
};

// A factory for the interface T that makes proxies of class P (derived from T).
template <class T, class P>
class TypedProxyFactory : public ProxyFactory {
public:
    void* Create(unsigned creationArgument) override
    {
        return static_cast<T*>(new P(creationArgument));
    }
    void Release(void* proxy) override { delete static_cast<T*>(proxy); }
};
