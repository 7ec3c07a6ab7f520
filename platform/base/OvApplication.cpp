// The application singleton: registration, arguments, default printing and life cycle.
#include "framework/OvApplication.h"

#include <atomic>
#include <iostream>

#include "framework/OvException.h"
#include "framework/OvString.h"

namespace {

// The one application of the process; set by the constructor, cleared by the
// destructor of that same object.
std::atomic<OvApplication*> g_application{nullptr};

}  // namespace

OvApplication::OvApplication(const std::wstring& name) : name_(name) { g_application.store(this); }

OvApplication::~OvApplication()
{
    // A later application may have replaced this one; leave that one in place.
    OvApplication* self = this;
    g_application.compare_exchange_strong(self, nullptr);
}

int OvApplication::Init(int argc, char** argv)
{
    args_.clear();
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        args_.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return 0;
}

void OvApplication::Print(const std::wstring& text, const char* file, int line)
{
    // Narrow output only: mixing wide and narrow writes on one stream garbles both.
    Print(makeString(OvWString(text)), file, line);
}

void OvApplication::Print(const std::string& text, const char* file, int line)
{
    std::cout << text;
    if (file != nullptr) std::cout << ' ' << file << ':' << line;
    std::cout << std::endl;
}

const std::wstring& OvApplication::GetApplicationName() const { return name_; }

int OvApplication::Execute()
{
    const int rc = Run();
    Shutdown();
    return rc;
}

bool OvApplication::Exists() { return g_application.load() != nullptr; }

OvApplication& OvApplication::Itself()
{
    OvApplication* application = g_application.load();
    if (application == nullptr) throw OvException("You must create an Application singleton");
    return *application;
}
