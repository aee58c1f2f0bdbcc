#pragma once

#include <QString>

#include <stdexcept>

namespace tonelark {

// The general failure of the song analysis. Carries a user-visible (Japanese) message;
// what() is the same text in UTF-8 so that a plain std::exception handler can show it too.
class ESongException : public std::runtime_error {
public:
    explicit ESongException(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

// Refused or damaged SMF data. The loader tells it apart from ESongException to choose the
// heading of its message.
class ESmfParserException : public ESongException {
public:
    using ESongException::ESongException;
};

} // namespace tonelark
