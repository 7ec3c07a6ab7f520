// The trans-id service, the directory service, the event log, and the
// factories that hand them out.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <fstream>
#include <iterator>
#include <set>
#include <tuple>

#include "TestApplication.h"
#include "config/OvServiceSettingsFile.h"
#include "framework/OvBoundedFile.h"
#include "platform/directory/Directory.h"
#include "platform/directory/Secret.h"
#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/userservices/DirectoryService.h"
#include "platform/userservices/EventLog.h"
#include "platform/userservices/ServiceFactories.h"
#include "platform/userservices/ServiceSettings.h"
#include "platform/userservices/TransIdService.h"
#include "services/OvUserServiceBase.h"
#include "services/ProxyHandle.h"

using namespace ovdir;

namespace {

unsigned Address(const char* dotted)
{
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, dotted, &address), 1);
    return address.s_addr;
}

std::string UserAt(OvTransIdServiceBase& service, const char* dotted, unsigned expected = 0)
{
    OvWString user;
    EXPECT_EQ(service.GetUser(Address(dotted), user), expected) << dotted;
    return makeString(user);
}

}  // namespace

TEST(TransIdTest, UserIsTheRestOfTheLineAsItStands)
{
    TransIdService service(std::string(OV_TEST_DATA) + "/sessions");
    EXPECT_EQ(UserAt(service, "127.0.0.1"), "EXAMPLE\\jsmith");
    EXPECT_EQ(UserAt(service, "192.0.2.21"), "EXAMPLE\\mjones");
    EXPECT_EQ(UserAt(service, "192.0.2.22"), "EXAMPLE\\J\xC3\xBCrgen M\xC3\xBCller  ");
}

TEST(TransIdTest, FirstLineForAnAddressWins)
{
    TransIdService service(std::string(OV_TEST_DATA) + "/sessions");
    EXPECT_EQ(UserAt(service, "192.0.2.31"), "EXAMPLE\\abrown");
}

TEST(TransIdTest, NoSessionForAddressOrUserlessLine)
{
    TransIdService service(std::string(OV_TEST_DATA) + "/sessions");
    EXPECT_EQ(UserAt(service, "10.9.9.9", kStatusNoSession), "");
    EXPECT_EQ(UserAt(service, "192.0.2.40", kStatusNoSession), "");
}

TEST(TransIdTest, BuiltInSampleSessions)
{
    TransIdService service{std::string()};
    EXPECT_EQ(UserAt(service, "127.0.0.1"), "EXAMPLE\\jsmith");
}

TEST(TransIdTest, UnreadableSessionsFileIsReported)
{
    TestApplication application;
    TransIdService service("/nonexistent/sessions");
    EXPECT_EQ(UserAt(service, "127.0.0.1", kStatusSessionsLoadFailed), "");
    EXPECT_EQ(
        application.Records(),
        (std::vector<std::string>{"0x30A2000D 0x30A200 /nonexistent/sessions:0 the sessions "
                                  "file cannot be read: No such file or directory (ENOENT)"}));
    // A device is refused at once instead of read without end.
    TransIdService device("/dev/urandom");
    EXPECT_EQ(UserAt(device, "127.0.0.1", kStatusSessionsLoadFailed), "");
    EXPECT_EQ(application.Records().back(),
              "0x30A2000D 0x30A200 /dev/urandom:0 the sessions file cannot be read: not a regular "
              "file (a FIFO, device or socket)");
}

TEST(EventLogTest, EveryStatusHasItsOwnText)
{
    const unsigned codes[] = {kStatusMalformedName,
                              kStatusUnsupportedType,
                              kStatusNoSuchEntry,
                              kStatusAmbiguous,
                              kStatusUnreachable,
                              kStatusTimeout,
                              kStatusRefused,
                              kStatusLoadFailed,
                              kStatusNoEmail,
                              kStatusNoSession,
                              kStatusTlsFailed,
                              kStatusBindFailed,
                              kStatusSessionsLoadFailed,
                              kStatusTooManyEntries,
                              kStatusExpansionTooLarge,
                              kStatusReferral};
    std::set<std::string> texts;
    for (unsigned code : codes) {
        const std::string text = EventLog::Text(code);
        EXPECT_EQ(text.find("Unknown"), std::string::npos) << std::hex << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
}

TEST(EventLogTest, UnknownCodeIsNamedInHex)
{
    EventLog log;
    OvWString message;
    const unsigned code = 0x1234abcdu;
    log.GetErrorMessage(code, message);
    EXPECT_EQ(makeString(message), "Unknown error 0x1234abcd");
    EXPECT_EQ(EventLog::Text(7), "Unknown error 0x00000007");
}

namespace {

const char kControllers[] = R"(dn: dc=corp,dc=test
objectClass: domain
dc: corp

dn: ou=Domain Controllers,dc=corp,dc=test
objectClass: organizationalUnit
ou: Domain Controllers

dn: cn=DC-B,ou=Domain Controllers,dc=corp,dc=test
objectClass: computer
cn: DC-B
dNSHostName: b.corp.test
ipHostNumber: 10.0.0.2

dn:: Y249REMtWsO8cmljaCxvdT1Eb21haW4gQ29udHJvbGxlcnMsZGM9Y29ycCxkYz10ZXN0
objectClass: computer
cn:: REMtWsO8cmljaA==
ipHostNumber: 10.0.0.1

dn: cn=LOCAL,ou=Domain Controllers,dc=corp,dc=test
objectClass: device
cn: LOCAL
dNSHostName: localhost

dn: cn=Printer,ou=Domain Controllers,dc=corp,dc=test
objectClass: printer
cn: Printer

dn: dc=bare,dc=test
objectClass: domain
dc: bare
)";

std::vector<std::string> Servers(const std::string& context, unsigned expected = 0)
{
    auto directory = EmbeddedDirectory::FromText(kControllers, "controllers");
    DirectoryService service(*directory);
    std::vector<DomainServer> servers;
    EXPECT_EQ(service.GetServersForDomain(makeWideString(context), servers), expected);
    std::vector<std::string> out;
    for (const DomainServer& server : servers)
        out.push_back(makeString(server.name) + " " + server.ip.str());
    return out;
}

}  // namespace

TEST(DirectoryServiceTest, ControllersByHostNameElseCnWithAddress)
{
    EXPECT_EQ(Servers("LDAP://h dc=corp,dc=test"),
              (std::vector<std::string>{"b.corp.test 10.0.0.2", "DC-Z\xC3\xBCrich 10.0.0.1",
                                        "localhost 127.0.0.1"}));
}

TEST(DirectoryServiceTest, DomainWithoutControllersOrNoDomain)
{
    EXPECT_EQ(Servers("LDAP://h dc=bare,dc=test"), std::vector<std::string>{});
    Servers("LDAP://h dc=none,dc=test", kStatusNoSuchEntry);
    Servers("LDAP://h ou=Domain Controllers,dc=corp,dc=test", kStatusNoSuchEntry);
    Servers("CORP", kStatusMalformedName);
}

// What a program installs, the proxies hand out from then on, to calls on
// the proxy and on its interface alike; an interface fetched before stays
// what it was.
TEST(FactoryTest, ProxiesHandOutTheServicesInstalledLast)
{
    ProxyHandle<OvTransIdServiceBase> before;
    OvTransIdServiceBase& sample = *before.GetInterface();
    ServiceConfiguration configuration;
    configuration.sessionsFile = std::string(OV_TEST_DATA) + "/sessions";
    InstallServices(configuration);
    ProxyHandle<OvTransIdServiceBase> after;
    after.Acquire();
    const std::string jurgen = "EXAMPLE\\J\xC3\xBCrgen M\xC3\xBCller  ";
    EXPECT_EQ(UserAt(*after.GetProxy(), "192.0.2.22"), jurgen);
    EXPECT_EQ(UserAt(*after.GetInterface(), "192.0.2.22"), jurgen);
    EXPECT_EQ(UserAt(sample, "192.0.2.22", kStatusNoSession), "");
    InstallServices(ServiceConfiguration());
}

TEST(FactoryTest, EveryServiceHandsOutOneObject)
{
    ProxyHandle<OvEventLogBase> first;
    ProxyHandle<OvEventLogBase> second;
    OvEventLogBase* a = first.GetInterface();
    OvEventLogBase* b = second.GetInterface();
    EXPECT_EQ(a, b);
    EXPECT_NE(first.GetProxy(), second.GetProxy());
    OvWString message;
    a->GetErrorMessage(kStatusNoEmail, message);
    EXPECT_EQ(makeString(message), EventLog::Text(kStatusNoEmail));

    ProxyHandle<OvTransIdServiceBase> transId;
    ProxyHandle<OvDirectoryServiceBase> directory;
    ProxyHandle<OvUserServiceBase> user;
    EXPECT_NE(transId.GetInterface(), nullptr);
    EXPECT_NE(directory.GetInterface(), nullptr);
    EXPECT_NE(user.GetInterface(), nullptr);
}

namespace {

// While a test watches, every block that the program's code frees is looked
// through for a marked secret first (the tests' link wraps free and sized
// delete): a buffer that held a secret must be wiped before it goes.
const char kMarked[] = "Wq8-marked-secret";
bool watching = false;
int leftBehind = 0;

void LookThrough(const void* block, std::size_t size)
{
    leftBehind += watching && block && memmem(block, size, kMarked, sizeof kMarked - 1);
}

}  // namespace

extern "C" void __real_free(void* block);
extern "C" void __real__ZdlPvm(void* block, std::size_t size);
extern "C" void __wrap_free(void* block)
{
    LookThrough(block, block ? malloc_usable_size(block) : 0);
    __real_free(block);
}
extern "C" void __wrap__ZdlPvm(void* block, std::size_t size)
{
    LookThrough(block, size);
    __real__ZdlPvm(block, size);
}

namespace {

// Runs in a fresh directory holding the given orvane.ini, and goes back.
class ParameterFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/ov-settings-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(folder_.c_str()), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(chdir(previous_), 0);
        std::remove((folder_ + "/orvane.ini").c_str());
        rmdir((folder_ + "/orvane.ini").c_str());
        rmdir(folder_.c_str());
    }
    void Write(const std::string& text) { std::ofstream("orvane.ini", std::ios::binary) << text; }
    // What the program hands the services: one reading of the file.
    static OvServiceSettings Settings() { return ReadServiceSettings("orvane.ini"); }

    std::string folder_;
    char previous_[4096] = {};
};

}  // namespace

TEST_F(ParameterFileTest, DirectorySettingsFromTheirSection)
{
    Write(
        "[PolicyServer]\nDirectory=wrong\n; a comment\n[ userservice ]\n"
        "  directory = ldaps://dc.example.com:636  \r\nBindDN=cn=svc,dc=example,dc=com\n"
        "BindPassword= p w \nStartTLS=Yes\nTLSCACertFile=/etc/ca.pem\n[Other]\nStartTLS=no\n");
    const DirectorySettings settings = ReadServiceConfiguration(Settings()).directory;
    EXPECT_EQ(settings.directory, "ldaps://dc.example.com:636");
    EXPECT_EQ(settings.bindDn, "cn=svc,dc=example,dc=com");
    EXPECT_EQ(settings.bindPassword, "p w");
    EXPECT_TRUE(settings.startTls);
    EXPECT_EQ(settings.caCertFile, "/etc/ca.pem");
}

// The one reading of the file that the program hands the services: which
// line gives a key its value.
TEST_F(ParameterFileTest, TheFirstValueOfAKeyInItsSectionCounts)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Directory=outside\n[UserService]\nDirectory=inside\n", "inside"},
        {"[UserService]\nDirectory=first\nDIRECTORY=second\n", "first"},
        {"[UserService]\n[Other]\nDirectory=other\n[USERSERVICE]\nDirectory=later\n", "later"},
        {"[UserService]\n# Directory=comment\n;Directory=comment\nDirectory\n", ""},
        {"[UserService\nDirectory=unclosed\n", ""},
        {"[UserService]\r\nDirectory = crlf \r\n", "crlf"},
    };
    for (const auto& [text, expected] : cases) {
        Write(text);
        EXPECT_EQ(ReadServiceConfiguration(Settings()).directory.directory, expected) << text;
    }
}

TEST_F(ParameterFileTest, NoFileMeansTheSampleAndDefaults)
{
    const DirectorySettings settings = ReadServiceConfiguration(Settings()).directory;
    EXPECT_EQ(settings.directory, "");
    EXPECT_FALSE(settings.startTls);
    EXPECT_EQ(ReadServiceConfiguration(Settings()).sessionsFile, "");
}

// A limit that is not a number from 1 up keeps its default; it, an orvane.ini
// that others may change and one too large to be read each give a warning.
TEST_F(ParameterFileTest, LimitsAndTheFileItselfAreWarnedAbout)
{
    const std::string large = "MaxEntries=5\n" + std::string(kOvParameterFileLimit, '#');
    const std::tuple<std::string, mode_t, std::size_t, const char*> cases[] = {
        {"MaxEntries=1000\nMaxGroupSearches=7", 0600, 1000, ""},
        {"MaxEntries = 2500000 ", 0600, 2500000, ""},
        {"MaxEntries=0", 0600, kDefaultMaxEntries, "0x20A20044"},
        {"MaxEntries=-1", 0600, kDefaultMaxEntries, "0x20A20044"},
        {"MaxEntries=abc\nMaxGroupSearches=1e3", 0600, kDefaultMaxEntries, "0x20A20044 0x20A20044"},
        {"MaxEntries=99999999999999999999", 0600, kDefaultMaxEntries, "0x20A20044"},
        {"MaxEntries=5", 0620, 5, "0x20A20042"},
        {"MaxEntries=5", 0606, 5, "0x20A20042"},
        {large, 0600, kDefaultMaxEntries, "0x20A20045"},
    };
    for (const auto& [text, mode, entries, codes] : cases) {
        TestApplication application;
        Write("[UserService]\n" + text + "\n");
        ASSERT_EQ(chmod("orvane.ini", mode), 0);
        EXPECT_EQ(ReadServiceConfiguration(Settings()).directory.maxEntries, entries)
            << text.substr(0, 40);
        std::string said;
        for (const std::string& record : application.Records())
            said += (said.empty() ? "" : " ") + record.substr(0, 10);
        EXPECT_EQ(said, codes) << text.substr(0, 40);
    }
}

// An orvane.ini that is a FIFO (no writer), a device or a folder gives the
// services no settings, at once, instead of blocking or reading for ever.
TEST_F(ParameterFileTest, SpecialFilesGiveNoSettings)
{
    ASSERT_EQ(mkfifo("orvane.ini", 0600), 0);
    EXPECT_EQ(ReadServiceConfiguration(Settings()).directory.directory, "");
    EXPECT_EQ(ReadServiceConfiguration(Settings()).sessionsFile, "");
    std::remove("orvane.ini");
    ASSERT_EQ(symlink("/dev/zero", "orvane.ini"), 0);
    EXPECT_EQ(ReadServiceConfiguration(Settings()).directory.directory, "");
    std::remove("orvane.ini");
    ASSERT_EQ(mkdir("orvane.ini", 0700), 0);
    EXPECT_EQ(ReadServiceConfiguration(Settings()).sessionsFile, "");
}

// The password's way from the file into the settings, the directory's
// settings and the password file reader, a secret given another value and
// the settings dropped: no buffer is freed with the password in it.
TEST_F(ParameterFileTest, SecretsAreWipedBeforeTheirMemoryGoes)
{
    Write(std::string("[UserService]\nBindPassword=") + kMarked + "\n[Other]\nKept=" + kMarked);
    std::ofstream("pw") << kMarked;
    watching = true;
    {
        OvServiceSettings ini = ReadServiceSettings("orvane.ini");
        DirectorySettings settings = ReadServiceConfiguration(ini).directory;
        std::string reason;
        EXPECT_TRUE(ReadSecretFile("pw", settings.bindPassword, reason));
        settings.bindPassword = "another";
    }
    watching = false;
    EXPECT_EQ(leftBehind, 0);
    std::remove("pw");
}

TEST_F(ParameterFileTest, SessionsFileFromItsSection)
{
    Write("[TransIdService]\nSessions=/data/sessions\n");
    EXPECT_EQ(ReadServiceConfiguration(Settings()).sessionsFile, "/data/sessions");
}

namespace {

// The service account's password from its two settings, and what is said
// about them: each row a parameter file, an optional password file (its
// bytes, and the mode of both files), the password taken and the records.
struct PasswordCase {
    const char* purpose;
    const char* ini;
    mode_t iniMode;
    const char* file;  // null: no password file is written
    const char* password;
    bool unreadable;
    std::vector<std::string> records;
};

}  // namespace

TEST_F(ParameterFileTest, ServiceAccountPasswordFromTheFileOrTheParameterFile)
{
    const std::string warning =
        "0x20A20024 0x30A200 orvane.ini:0 BindPassword is in a file that other users can read; "
        "BindPasswordFile can name a file of its own";
    const std::string large(5000, 'x');
    const PasswordCase cases[] = {
        {"in orvane.ini of the owner alone",
         "BindPassword=s3cret\n",
         0600,
         nullptr,
         "s3cret",
         false,
         {}},
        {"in orvane.ini that others can read",
         "BindPassword=s3cret\n",
         0644,
         nullptr,
         "s3cret",
         false,
         {warning}},
        {"in orvane.ini that the group can read",
         "BindPassword=s3cret\n",
         0640,
         nullptr,
         "s3cret",
         false,
         {warning}},
        {"from the file, one line end dropped",
         "BindPasswordFile=pw\n",
         0600,
         "from file\r\n",
         "from file",
         false,
         {}},
        {"from a file that others can read, blanks and inner line ends kept",
         "BindPasswordFile=pw\n",
         0604,
         " a\nb \n\n",
         " a\nb \n",
         false,
         {"0x20A20043 0x30A200 pw:0 BindPasswordFile is a file that other users can read"}},
        {"the file wins over orvane.ini",
         "BindPassword=inline\nBindPasswordFile=pw\n",
         0600,
         "from file",
         "from file",
         false,
         {}},
        {"a missing file: no password, the system's reason",
         "BindPasswordFile=missing\n",
         0600,
         nullptr,
         "",
         true,
         {"0x30A20023 0x30A200 missing:0 No such file or directory"}},
        {"a folder: no password, the system's reason",
         "BindPasswordFile=.\n",
         0600,
         nullptr,
         "",
         true,
         {"0x30A20023 0x30A200 .:0 Is a directory"}},
        {"a file larger than a password",
         "BindPasswordFile=pw\n",
         0600,
         large.c_str(),
         "",
         true,
         {"0x30A20023 0x30A200 pw:0 File too large"}},
    };
    for (const PasswordCase& c : cases) {
        SCOPED_TRACE(c.purpose);
        TestApplication application;
        Write(std::string("[UserService]\nBindDN=cn=svc\n") + c.ini);
        ASSERT_EQ(chmod("orvane.ini", c.iniMode), 0);
        if (c.file != nullptr) std::ofstream("pw", std::ios::binary) << c.file;
        if (c.file != nullptr) chmod("pw", c.iniMode);
        const DirectorySettings settings = ReadServiceConfiguration(Settings()).directory;
        EXPECT_EQ(settings.bindPassword, c.password);
        EXPECT_EQ(settings.passwordUnreadable, c.unreadable);
        EXPECT_EQ(application.Records(), c.records);
        std::remove("pw");
    }
    // A password file of the owner alone, in a folder where others may put
    // another in its place.
    TestApplication application;
    Write("[UserService]\nBindPasswordFile=pw\n");
    std::ofstream("pw") << "from file";
    ASSERT_EQ(chmod("pw", 0600) | chmod("orvane.ini", 0600) | chmod(".", 0777), 0);
    EXPECT_EQ(ReadServiceConfiguration(Settings()).directory.bindPassword, "from file");
    EXPECT_EQ(chmod(".", 0700), 0);
    EXPECT_EQ(application.Records().at(0).rfind("0x20A20043 0x30A200 pw:0 BindPasswordFile is "
                                                "in a folder where other users can put",
                                                0),
              0u);
    std::remove("pw");
}
