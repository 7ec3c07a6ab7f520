// The proxy-factory registry and ProxyHandle: acquisition, release and their failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "services/ProxyHandle.h"

namespace {

// An interface of our own, so the tests own its registry key.
class FakeService {
public:
    explicit FakeService(unsigned argument) : creationArgument(argument) {}
    virtual ~FakeService() = default;
    virtual FakeService* GetInterface() { return this; }
    unsigned creationArgument;
};

enum class Behaviour { kMake, kNull, kThrow };

class FakeFactory : public ProxyFactory {
public:
    explicit FakeFactory(Behaviour behaviour = Behaviour::kMake) : behaviour_(behaviour) {}
    void* Create(unsigned creationArgument) override
    {
        ++created;
        if (behaviour_ == Behaviour::kNull) return nullptr;
        if (behaviour_ == Behaviour::kThrow) throw std::logic_error("factory broke");
        lastArgument = creationArgument;
        return new FakeService(creationArgument);
    }
    void Release(void* proxy) override
    {
        ++released;
        delete static_cast<FakeService*>(proxy);
    }
    int created = 0;
    int released = 0;
    unsigned lastArgument = ~0u;

private:
    Behaviour behaviour_;
};

class ProxyHandleTest : public ::testing::Test {
protected:
    void TearDown() override { OvProxyFactories::Instance()->Unregister(ProxyKey<FakeService>()); }
    void Install(FakeFactory& factory)
    {
        OvProxyFactories::Instance()->Register(ProxyKey<FakeService>(), &factory);
    }
};

TEST_F(ProxyHandleTest, NoFactoryThrowsAndLeavesTheHandleEmpty)
{
    ProxyHandle<FakeService> handle;
    try {
        handle.Acquire();
        FAIL() << "no exception";
    } catch (const OvCommException& error) {
        EXPECT_EQ(error.GetCode(), 0x309701F8u);
        EXPECT_STREQ(error.what(), "No Factory found for the specified Service");
    }
    EXPECT_TRUE(handle.IsEmpty());
}

TEST_F(ProxyHandleTest, NullProxyThrowsFactoryFailed)
{
    FakeFactory factory(Behaviour::kNull);
    Install(factory);
    ProxyHandle<FakeService> handle;
    try {
        handle.Acquire();
        FAIL() << "no exception";
    } catch (const OvCommException& error) {
        EXPECT_EQ(error.GetCode(), 0x309701F9u);
        EXPECT_EQ(error.GetMessage(), "Factory could not create proxy");
    }
    EXPECT_TRUE(handle.IsEmpty());
}

TEST_F(ProxyHandleTest, FailedAcquisitionIsTriedAgainOnNextUse)
{
    FakeFactory factory;
    ProxyHandle<FakeService> handle;
    EXPECT_THROW(handle.Acquire(), OvCommException);
    Install(factory);
    handle.Acquire();
    EXPECT_FALSE(handle.IsEmpty());
    EXPECT_EQ(factory.created, 1);
}

TEST_F(ProxyHandleTest, AcquireTwiceMakesOneProxy)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    handle.Acquire();
    FakeService* first = handle.GetProxy();
    handle.Acquire();
    EXPECT_EQ(factory.created, 1);
    EXPECT_EQ(handle.GetProxy(), first);
}

TEST_F(ProxyHandleTest, CreationArgumentReachesTheFactory)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    handle.Acquire();
    EXPECT_EQ(factory.lastArgument, 0u);
}

TEST_F(ProxyHandleTest, GetInterfaceAcquiresFirst)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    FakeService* service = handle.GetInterface();
    EXPECT_EQ(service, handle.GetProxy());
    EXPECT_EQ(factory.created, 1);
}

TEST_F(ProxyHandleTest, ReleaseGivesTheProxyBackOnce)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    handle.Acquire();
    handle.Release();
    handle.Release();
    EXPECT_EQ(factory.released, 1);
    EXPECT_TRUE(handle.IsEmpty());
}

TEST_F(ProxyHandleTest, ReleaseOnEmptyHandleCallsNothing)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    handle.Release();
    EXPECT_EQ(factory.created, 0);
    EXPECT_EQ(factory.released, 0);
}

TEST_F(ProxyHandleTest, DestroyingTheHandleReleases)
{
    FakeFactory factory;
    Install(factory);
    {
        ProxyHandle<FakeService> handle;
        handle.Acquire();
    }
    EXPECT_EQ(factory.released, 1);
}

TEST_F(ProxyHandleTest, ReleaseWithoutFactoryStillEmptiesTheHandle)
{
    FakeFactory factory;
    Install(factory);
    ProxyHandle<FakeService> handle;
    handle.Acquire();
    FakeService* orphan = handle.GetProxy();
    OvProxyFactories::Instance()->Unregister(ProxyKey<FakeService>());
    handle.Release();
    EXPECT_TRUE(handle.IsEmpty());
    EXPECT_EQ(factory.released, 0);
    delete orphan;
}

TEST_F(ProxyHandleTest, ThrowingFactoryPassesThroughAndFreesTheRegistry)
{
    FakeFactory broken(Behaviour::kThrow);
    FakeFactory working;
    Install(broken);
    ProxyHandle<FakeService> handle;
    EXPECT_THROW(handle.Acquire(), std::logic_error);
    EXPECT_TRUE(handle.IsEmpty());
    // The registry's lock must be free again: registering takes it.
    Install(working);
    handle.Acquire();
    EXPECT_EQ(working.created, 1);
}

TEST_F(ProxyHandleTest, LaterRegistrationReplacesTheEarlier)
{
    FakeFactory first;
    FakeFactory second;
    Install(first);
    Install(second);
    ProxyHandle<FakeService> handle;
    handle.Acquire();
    EXPECT_EQ(first.created, 0);
    EXPECT_EQ(second.created, 1);
}

TEST(Registry, CreateProxyWritesThePointerOnlyOnSuccess)
{
    FakeService* proxy = reinterpret_cast<FakeService*>(&proxy);
    FakeService* const untouched = proxy;
    EXPECT_EQ(OvProxyFactories::Instance()->CreateProxy<FakeService>(proxy, 0), kOvNoFactoryFound);
    EXPECT_EQ(proxy, untouched);
    EXPECT_EQ(OvProxyFactories::Instance()->ReleaseProxy<FakeService>(proxy), kOvNoFactoryFound);
}

TEST(Registry, InstanceIsOneObject)
{
    OvProxyFactories::Pointer first = OvProxyFactories::Instance();
    OvProxyFactories::Pointer second = OvProxyFactories::Instance();
    OvProxyFactories::Pointer copy;
    copy = first;
    EXPECT_NE(first.Get(), nullptr);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(copy.Get(), first.Get());
}

TEST(Registry, EmptySmartPointerHoldsNothing)
{
    OvProxyFactories::Pointer empty;
    EXPECT_EQ(empty.Get(), nullptr);
}

TEST(SmartCounter, LastReferenceReapsTheObject)
{
    static int reaped = 0;
    struct Counted {
        ~Counted() { ++reaped; }
    };
    using Pointer = OvSmartPointer<Counted, DefaultReaper<Counted>>;
    {
        Pointer first(Pointer::MakeCounter(new Counted));
        Pointer second(first);
        first = Pointer();
        EXPECT_EQ(reaped, 0);
    }
    EXPECT_EQ(reaped, 1);
}

// A handle of static storage duration is released by the static destructors
// at exit; the registry must still be there (AddressSanitizer sees it if not).
TEST(RegistryDeathTest, HandleReleasedAtExitFindsTheRegistry)
{
    EXPECT_EXIT(
        {
            static FakeFactory factory;
            OvProxyFactories::Instance()->Register(ProxyKey<FakeService>(), &factory);
            static ProxyHandle<FakeService> handle;
            handle.Acquire();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
