#include "app/RuntimeError.h"

QString RuntimeError::catalogueText(ErrorCode code)
{
    switch (code) {
    case ErrorCode::InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case ErrorCode::Overflow: return QStringLiteral("Overflow");
    case ErrorCode::SubscriptOutOfRange: return QStringLiteral("Subscript out of range");
    case ErrorCode::TypeMismatch: return QStringLiteral("Type mismatch");
    case ErrorCode::FileNotFound: return QStringLiteral("File not found");
    case ErrorCode::PathFileAccess: return QStringLiteral("Path/File access error");
    case ErrorCode::ObjectNotSet: return QStringLiteral("Object variable or With block variable not set");
    case ErrorCode::InvalidPropertyValue: return QStringLiteral("Invalid property value");
    case ErrorCode::TextReadOnly: return QStringLiteral("'Text' property is read-only");
    case ErrorCode::EntryPointNotFound: return QStringLiteral("Can't find DLL entry point");
    }
    return QStringLiteral("Application-defined or object-defined error");
}

RuntimeError::RuntimeError(ErrorCode code) : RuntimeError(static_cast<int>(code), catalogueText(code)) {}

RuntimeError::RuntimeError(ErrorCode code, const QString& detail)
    : RuntimeError(static_cast<int>(code), catalogueText(code) + QStringLiteral(": ") + detail)
{
}

RuntimeError::RuntimeError(int number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description)
{
}
