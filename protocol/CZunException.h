#pragma once

#include <exception>
#include <string>

// Base of the device library's own exceptions (command map, FIR files). Deliberately
// not a std::logic_error: the application's handler tells the two apart.
class CZunException : public std::exception
{
public:
    CZunException() = default;
    explicit CZunException(std::string message) : m_message(std::move(message)) {}

    const char* what() const noexcept override { return m_message.c_str(); }
    const std::string& message() const noexcept { return m_message; }

protected:
    std::string m_message;
};
