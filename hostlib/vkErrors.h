#pragma once
// The error classes of the system. Each carries the user-visible message that
// the default error dialog shows; what() gives the same text in UTF-8.
#include <QString>
#include <stdexcept>

class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &msg)
        : std::runtime_error(msg.toStdString()), FMessage(msg) {}
    const QString &Message() const noexcept { return FMessage; }

private:
    QString FMessage;
};

// Reading or writing a text file failed part-way.
class EInOutError : public Exception { using Exception::Exception; };
// A text that should be a number is not ("'%s' is not a valid integer value"),
// or an Assign between unrelated classes ("Cannot assign a %s to a %s").
class EConvertError : public Exception { using Exception::Exception; };
// Stream failures ("Error setting stream size").
class EStreamError : public Exception { using Exception::Exception; };
// "Cannot create file %s"
class EFCreateError : public EStreamError { using EStreamError::EStreamError; };
// "Cannot open file %s"
class EFOpenError : public EStreamError { using EStreamError::EStreamError; };
// "List index out of bounds (%d)"
class EStringListError : public Exception { using Exception::Exception; };
