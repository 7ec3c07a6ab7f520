// The framework's application singleton and its log stream base.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum ELogStreamTypes {
    eLogString,
    eLogWideString,
    eLogNumber,
    eLogDateTime,
    eLogDate,
    eLogTime,
};

// A log stream collects one record: SetErrorData, then values, then `ends`,
// which calls WriteRecord once.
class OvLogStream {
public:
    OvLogStream();
    OvLogStream(const OvLogStream&) = delete;
    OvLogStream& operator=(const OvLogStream&) = delete;
    virtual ~OvLogStream();

    virtual void AddValue(ELogStreamTypes type, const std::string& value);
    virtual void WriteRecord() = 0;
    virtual void SetErrorData(unsigned code, unsigned moduleId, const char* location, int line,
                              int severity);
    virtual void Reset();
    // Formats the record's parameters; values of eLogString are UTF-8 text.
    virtual void FormatParameters(std::vector<std::wstring>& out, const char* format);
    virtual void FormatParameters(std::vector<std::wstring>& out);

    OvLogStream& operator<<(OvLogStream& (*manipulator)(OvLogStream&));
    // Adds a text parameter to the record.
    OvLogStream& operator<<(const std::string& value);

    unsigned GetCode() const { return code_; }
    unsigned GetModuleId() const { return moduleId_; }
    const char* GetLocation() const { return location_; }
    int GetLine() const { return line_; }
    int GetSeverity() const { return severity_; }

protected:
    virtual void FormatDateTime(const std::string& value, std::wstring& out, const char* format);
    virtual void FormatDate(const std::string& value, std::wstring& out, const char* format);
    virtual void FormatTime(const std::string& value, std::wstring& out, const char* format);

private:
    unsigned code_ = 0;
    unsigned moduleId_ = 0;
    const char* location_ = nullptr;
    int line_ = 0;
    int severity_ = -1;
    std::vector<std::pair<ELogStreamTypes, std::string>> values_;
};

// Completes the record: calls WriteRecord() of the stream once.
OvLogStream& ends(OvLogStream& stream);

class OvApplication {
public:
    explicit OvApplication(const std::wstring& name);
    OvApplication(const OvApplication&) = delete;
    OvApplication& operator=(const OvApplication&) = delete;
    virtual ~OvApplication();

    virtual int Init(int argc, char** argv);
    virtual void Print(const std::wstring& text, const char* file, int line);
    virtual void Print(const std::string& text, const char* file, int line);
    virtual const std::wstring& GetApplicationName() const;
    virtual int Run() = 0;
    virtual void Shutdown() = 0;
    virtual int Execute();
    virtual OvLogStream& GetErrorStream(unsigned code, unsigned moduleId, const char* location,
                                        int line, int severity) = 0;

    static bool Exists();
    static OvApplication& Itself();

    const std::vector<std::string>& GetArgs() const { return args_; }

private:
    std::wstring name_;
    std::vector<std::string> args_;
};
