// The program's slot for one service proxy.
#pragma once

#include <string>

#include "services/OvProxyFactories.h"

template <class T>
struct ProxyHolder {
    T* proxy;
    unsigned useCount;
};

template <class T>
class ProxyHandle {
public:
    explicit ProxyHandle(unsigned creationArgument = 0) : creationArgument_(creationArgument) {}
    ProxyHandle(const ProxyHandle&) = delete;
    ProxyHandle& operator=(const ProxyHandle&) = delete;
    ~ProxyHandle() { Release(); }

    // Makes the proxy if the handle is empty; throws OvCommException when no
    // proxy can be made, and the handle stays empty.
    void Acquire()
    {
        if (holder_ != nullptr) return;
        T* proxy = nullptr;
        unsigned status;
        {
            OvProxyFactories::Pointer registry = OvProxyFactories::Instance();
            status = registry->template CreateProxy<T>(proxy, creationArgument_);
        }
        if (proxy == nullptr) {
            switch (status) {
                case kOvFactoryFailed:
                    throw OvCommException("Factory could not create proxy", status);
                case kOvNoFactoryFound:
                    throw OvCommException("No Factory found for the specified Service", status);
                default:
                    throw OvCommException("Unknown error creating proxy", status);
            }
        }
        holder_ = new ProxyHolder<T>{proxy, 1};
    }

    // Gives the proxy back if the handle holds one; never throws of its own.
    void Release()
    {
        if (holder_ == nullptr) return;
        if (--holder_->useCount == 0) {
            {
                OvProxyFactories::Pointer registry = OvProxyFactories::Instance();
                registry->template ReleaseProxy<T>(holder_->proxy);
            }
            delete holder_;
        }
        holder_ = nullptr;
    }

    // The service's interface, acquiring the proxy first if the handle is empty.
    auto GetInterface()
    {
        Acquire();
        return holder_->proxy->GetInterface();
    }

    bool IsEmpty() const { return holder_ == nullptr; }
    T* GetProxy() const { return holder_ ? holder_->proxy : nullptr; }

private:
    ProxyHolder<T>* holder_ = nullptr;
    unsigned creationArgument_;
};
