// The communication framework proxy, the configuration-service location and password wiping.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <new>
#include <string>

#include "services/OvCommFramework.h"
#include "services/ProxyHandle.h"

namespace {

TEST(CommFramework, FactoryIsRegisteredAtStart)
{
    ProxyHandle<OvCommFramework> handle;
    EXPECT_NO_THROW(handle.Acquire());
    EXPECT_NE(handle.GetProxy(), nullptr);
}

TEST(CommFramework, KeepsTheParametersItIsGiven)
{
    ProxyHandle<OvCommFramework> handle;
    OvCommParameters parameters;
    parameters.SetMethodTimeout(600);
    parameters.SetConnectionTimeout(4500);
    parameters.SetSecureSocketLayer(true);
    EXPECT_EQ(handle.GetInterface()->SetCommParameters(parameters), 0u);
    EXPECT_EQ(handle.GetInterface()->Start(), 0u);
    const OvCommParameters current = CurrentCommParameters();
    EXPECT_EQ(current.methodTimeout, 600u);
    EXPECT_EQ(current.connectionTimeout, 4500u);
    EXPECT_TRUE(current.secureSocketLayer);
}

TEST(CommFramework, ParametersOutliveTheProxy)
{
    OvCommParameters parameters;
    parameters.SetStatusCheckTimeout(77);
    {
        ProxyHandle<OvCommFramework> handle;
        handle.GetInterface()->SetCommParameters(parameters);
    }
    EXPECT_EQ(CurrentCommParameters().statusCheckTimeout, 77u);
}

TEST(ConfigServiceProxy, KeepsTheLocation)
{
    OvConfigServiceProxy::SetLocation("10.1.2.3:55806");
    EXPECT_EQ(OvConfigServiceProxy::GetLocation(), "10.1.2.3:55806");
    OvConfigServiceProxy::SetLocation(nullptr);
    EXPECT_EQ(OvConfigServiceProxy::GetLocation(), "");
}

TEST(Password, HoldsTheGivenText)
{
    OvWIFFLEPassword password(OvWString(L"secret"), false);
    EXPECT_EQ(password.GetPassword(), L"secret");
}

TEST(Password, WipesItsCopyWhenDestroyed)
{
    // Short enough to live inside the object, so the bytes can be looked at
    // once the object is gone.
    alignas(OvWIFFLEPassword) unsigned char storage[sizeof(OvWIFFLEPassword)];
    auto* password = new (storage) OvWIFFLEPassword(OvWString(L"pw"), false);
    password->~OvWIFFLEPassword();
    for (std::size_t i = 0; i + sizeof(wchar_t) <= sizeof storage; ++i) {
        wchar_t c;
        std::memcpy(&c, storage + i, sizeof c);
        EXPECT_NE(c, L'p');
        EXPECT_NE(c, L'w');
    }
    // The text is kept as UTF-8: its bytes must be gone too.
    const unsigned char text[] = {'p', 'w'};
    EXPECT_EQ(std::search(storage, storage + sizeof storage, text, text + 2),
              storage + sizeof storage);
}

TEST(Wipe, OverwritesEveryCharacterAndEmpties)
{
    std::string secret(64, 'x');
    const char* buffer = secret.data();
    OvWipe(secret);
    EXPECT_TRUE(secret.empty());
    for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(buffer[i], '\0') << i;
}

TEST(Wipe, OverwritesWideText)
{
    std::wstring secret(40, L'y');
    const wchar_t* buffer = secret.data();
    OvWipe(secret);
    EXPECT_TRUE(secret.empty());
    for (std::size_t i = 0; i < 40; ++i) EXPECT_EQ(buffer[i], L'\0') << i;
}

TEST(Wipe, EmptyTextStaysEmpty)
{
    std::string secret;
    OvWipe(secret);
    EXPECT_TRUE(secret.empty());
}

}  // namespace
