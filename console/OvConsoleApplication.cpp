// The console application base, its error log stream and the process entry's work.
#include "console/OvConsoleApplication.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <vector>

#include <unistd.h>

#include "console/OvTerminal.h"
#include "console/OvWideConsole.h"
#include "framework/OvOS.h"
#include "framework/OvString.h"
#include "services/OvCommException.h"

namespace {

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Any of these ends the process at once with status 1, without output and
// without tearing anything down; only the terminal is put back as it was.
extern "C" void EndOnSignal(int)
{
    OvRestoreTerminalAfterSignal();
    _exit(1);
}

void InstallSignalExit()
{
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        sigaction(signalNumber, &action, nullptr);
    }
}

void ReportEscaped(unsigned code, const std::string& message)
{
    if (!OvApplication::Exists()) {
        std::cerr << "Error: Code=" << Hex(code) << " ModuleId=0x0 Parameters: (" << message << ")"
                  << std::endl;
        return;
    }
    OvApplication::Itself().GetErrorStream(code, 0, nullptr, 0, -1) << message << ends;
}

}  // namespace

std::string OvNarrowForRecord(const std::wstring& text)
{
    const std::size_t needed = std::wcstombs(nullptr, text.c_str(), 0);
    if (needed != static_cast<std::size_t>(-1)) {
        std::vector<char> buffer(needed + 1);
        std::wcstombs(buffer.data(), text.c_str(), needed + 1);
        return std::string(buffer.data(), needed);
    }
    // The locale cannot express some character: keep what it can, mark the rest.
    std::string narrow;
    std::mbstate_t state{};
    std::vector<char> one(MB_CUR_MAX > 0 ? MB_CUR_MAX : 1);
    for (wchar_t c : text) {
        if (c == L'\0') break;
        const std::size_t length = std::wcrtomb(one.data(), c, &state);
        if (length == static_cast<std::size_t>(-1)) {
            narrow += '?';
            state = std::mbstate_t{};
        } else {
            narrow.append(one.data(), length);
        }
    }
    return narrow;
}

OvConsoleApplication::OvConsoleLogStream::OvConsoleLogStream(void*& outputMutex,
                                                             std::ostream& output)
    : outputMutex_(outputMutex), output_(output)
{
}

OvConsoleApplication::OvConsoleLogStream::~OvConsoleLogStream() = default;

void OvConsoleApplication::OvConsoleLogStream::WriteRecord()
{
    std::string record;
    try {
        // The record is built whole first, outside the lock: a failing
        // conversion must not leave half a line on the console.
        record = "Error: Code=" + Hex(GetCode()) + " ModuleId=" + Hex(GetModuleId());
        if (GetSeverity() != -1) record += " Severity=" + Hex(static_cast<unsigned>(GetSeverity()));
        const char* location = GetLocation();
        if (location != nullptr && *location != '\0') {
            record += " Location=";
            record += OvPrintable(location);
            if (GetLine() > 0) record += ":" + std::to_string(GetLine());
        }
        std::vector<std::wstring> parameters;
        FormatParameters(parameters);
        if (!parameters.empty()) {
            record += " Parameters: (";
            for (std::size_t i = 0; i < parameters.size(); ++i) {
                if (i > 0) record += ", ";
                // Names and paths in a record come from files and servers.
                record +=
                    OvNarrowForRecord(OvWideFromUtf8(OvPrintable(OvUtf8FromWide(parameters[i]))));
            }
            record += ")";
        }
    } catch (...) {
        // Reporting an error must never raise one: a record that cannot be
        // built is dropped.
        Reset();
        return;
    }
    Reset();
    OvOS::LockMutex(outputMutex_);
    try {
        output_ << std::dec << record << std::endl;
    } catch (...) {
        // Dropped; the mutex is released below.
    }
    OvOS::UnlockMutex(outputMutex_);
}

OvConsoleApplication::OvConsoleApplication(const std::wstring& applicationName)
    : OvApplication(applicationName), errorStream_(outputMutex_, std::cerr)
{
    OvOS::InitializeMutex(outputMutex_);
}

OvConsoleApplication::~OvConsoleApplication() { OvOS::DeleteMutex(outputMutex_); }

int OvConsoleApplication::Init(int argc, char** argv)
{
    std::ios_base::sync_with_stdio(true);
    OvRouteWideOutputThroughNarrow();
    return OvApplication::Init(argc, argv);
}

void OvConsoleApplication::Print(const std::wstring& text, const char* file, int line)
{
    // Flushed before the narrow part so that the two streams stay in order.
    PrintLocked([&text] { std::wcout << text << std::flush; }, file, line);
}

void OvConsoleApplication::Print(const std::string& text, const char* file, int line)
{
    PrintLocked([&text] { std::cout << text; }, file, line);
}

template <class WriteText>
void OvConsoleApplication::PrintLocked(WriteText writeText, const char* file, int line)
{
    OvOS::LockMutex(outputMutex_);
    try {
        writeText();
        if (file != nullptr) std::cout << ' ' << file << ':' << line;
        std::cout << std::endl;
    } catch (...) {
        // Printing must never raise; the mutex is released below.
    }
    OvOS::UnlockMutex(outputMutex_);
}

int OvConsoleApplication::Execute()
{
    InstallSignalExit();
    int rc = 1;
    try {
        rc = Run();
    } catch (const std::runtime_error&) {
        rc = 1;
    }
    Shutdown();
    delete this;
    return rc;
}

OvLogStream& OvConsoleApplication::GetErrorStream(unsigned code, unsigned moduleId,
                                                  const char* location, int line, int severity)
{
    // A record that an exception abandoned before its end is simply replaced.
    OvConsoleLogStream& record = ThreadRecord();
    record.Reset();
    record.SetErrorData(code, moduleId, location, line, severity);
    return record;
}

OvConsoleApplication::OvConsoleLogStream& OvConsoleApplication::ThreadRecord()
{
    const std::thread::id self = std::this_thread::get_id();
    if (self == mainThread_) return errorStream_;
    const std::lock_guard<std::mutex> guard(otherRecordsLock_);
    std::unique_ptr<OvConsoleLogStream>& record = otherRecords_[self];
    if (!record) record = std::make_unique<OvConsoleLogStream>(outputMutex_, std::cerr);
    return *record;
}

int OvConsoleMain(int argc, char** argv)
{
    if (!OvApplication::Exists()) {
        std::cerr << "You must create an Application singleton" << std::endl;
        return 1;
    }
    try {
        const int rc = OvApplication::Itself().Init(argc, argv);
        if (rc != 0) return rc;
        return OvApplication::Itself().Execute();
    } catch (const OvCommException& error) {
        ReportEscaped(error.GetCode(), error.GetMessage());
    } catch (const OvException& error) {
        ReportEscaped(0, error.GetMessage());
    } catch (const std::exception& error) {
        ReportEscaped(0, error.what());
    } catch (...) {
        ReportEscaped(0, "unknown exception");
    }
    return 1;
}
