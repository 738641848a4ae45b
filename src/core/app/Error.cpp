#include "Error.h"

#include <cerrno>
#include <cstring>

Error Error::FromCode(int code)
{
    Error e;
    if (code == 0)
        return e;
    if (code >= static_cast<int>(ErrorKind::HelperDied) &&
        code <= static_cast<int>(ErrorKind::NoTarget)) {
        e.kind = static_cast<ErrorKind>(code);
        return e;
    }
    e.kind = ErrorKind::System;
    e.nErrno = code;
    return e;
}

bool Error::NeedsLogin() const
{
    return kind == ErrorKind::LoginFailed ||
           (kind == ErrorKind::System && (nErrno == EACCES || nErrno == EPERM));
}

QString ErrorText(const Error& error)
{
    switch (error.kind) {
    case ErrorKind::None:
        return QStringLiteral("no error");
    case ErrorKind::System:
        return QString::fromLocal8Bit(std::strerror(error.nErrno));
    case ErrorKind::HelperDied:
        return QStringLiteral("the SMB helper process ended unexpectedly");
    case ErrorKind::HelperTimeout:
        return QStringLiteral("no answer within the deadline");
    case ErrorKind::NotFileShare:
        return QStringLiteral("not a file share");
    case ErrorKind::NoHelper:
        return QStringLiteral("the SMB helper could not be started");
    case ErrorKind::Cancelled:
        return QStringLiteral("cancelled");
    case ErrorKind::LoginFailed:
        return QStringLiteral("login failed: unknown user name or bad password");
    case ErrorKind::NoMdns:
        return QStringLiteral("no mDNS service on this machine");
    case ErrorKind::UnknownHost:
        return QStringLiteral("the server name was not found on the network");
    case ErrorKind::ListingCut:
        return QStringLiteral("the folder holds more entries than are read of one folder; the "
                              "rest were left out");
    case ErrorKind::NoBrowseServer:
        return QStringLiteral("no browse server found");
    case ErrorKind::Busy:
        return QStringLiteral("a search is running");
    case ErrorKind::TextTooLong:
        return QStringLiteral("the text to look for is too long");
    case ErrorKind::NoTarget:
        return QStringLiteral("nothing to search");
    }
    return QStringLiteral("error %1").arg(error.Code());
}
