// The one kind of run-time failure the program's procedures meet: a number and a
// description, from one catalogue, as users of such programs know them.
#pragma once

#include <QString>
#include <stdexcept>

enum class ErrorCode : int {
    InvalidCall = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    FileNotFound = 53,
    PathFileAccess = 75,
    ObjectNotSet = 91,
    InvalidPropertyValue = 380,
    TextReadOnly = 383,
    EntryPointNotFound = 453,
};

class RuntimeError : public std::runtime_error {
public:
    // The catalogue's description for the code.
    explicit RuntimeError(ErrorCode code);
    // The catalogue's description, ": " and a detail, e.g. "File not found: libvspdevices.so".
    RuntimeError(ErrorCode code, const QString& detail);
    // A number and description from outside the catalogue (e.g. a system error).
    RuntimeError(int number, const QString& description);

    int number() const { return number_; }
    const QString& description() const { return description_; }

    static QString catalogueText(ErrorCode code);

private:
    int number_;
    QString description_;
};
