// Base of the framework's exceptions.
#pragma once

#include <exception>
#include <string>

class OvException : public std::exception {
public:
    explicit OvException(const std::string& message = std::string());
    OvException(const OvException&) = default;
    OvException& operator=(const OvException&) = default;
    ~OvException() override;

    const char* what() const noexcept override;
    const std::string& GetMessage() const { return message_; }

private:
    std::string message_;
};
