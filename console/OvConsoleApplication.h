// The console flavour of the application base: life cycle, locked printing,
// one-line error records on standard error, and an immediate exit on signals.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "framework/OvApplication.h"

class OvConsoleApplication : public OvApplication {
public:
    // Writes each completed record as one line. The record's data is
    // collected without a lock; the application's output mutex is taken
    // only while the finished line is written, so that an exception between
    // GetErrorStream and the record's end leaves nothing locked.
    class OvConsoleLogStream : public OvLogStream {
    public:
        OvConsoleLogStream(void*& outputMutex, std::ostream& output);
        ~OvConsoleLogStream() override;
        void WriteRecord() override;

    private:
        void*& outputMutex_;
        std::ostream& output_;
    };

    explicit OvConsoleApplication(const std::wstring& applicationName);
    ~OvConsoleApplication() override;

    int Init(int argc, char** argv) override;
    void Print(const std::wstring& text, const char* file, int line) override;
    void Print(const std::string& text, const char* file, int line) override;
    int Execute() override;
    OvLogStream& GetErrorStream(unsigned code, unsigned moduleId, const char* location, int line,
                                int severity) override;

private:
    // Under the output mutex: the text, the source location if any, a line end.
    template <class WriteText>
    void PrintLocked(WriteText writeText, const char* file, int line);

    // The calling thread's record: errorStream_ for the thread that made the
    // application, one of its own for any other thread.
    OvConsoleLogStream& ThreadRecord();

    void* outputMutex_ = nullptr;
    OvConsoleLogStream errorStream_;
    std::thread::id mainThread_ = std::this_thread::get_id();
    std::mutex otherRecordsLock_;
    std::map<std::thread::id, std::unique_ptr<OvConsoleLogStream>> otherRecords_;
};

// Wide text as the record prints it: through the C library's multibyte
// conversion in the current locale, each character it cannot convert
// written as '?', so that a record is always whole.
std::string OvNarrowForRecord(const std::wstring& text);

// The process entry's work: drives the application singleton and turns an
// exception that leaves it into one error record and exit status 1.
int OvConsoleMain(int argc, char** argv);
