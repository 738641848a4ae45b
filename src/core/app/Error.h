#pragma once

#include <QString>

// What went wrong, one type for the whole engine: the file systems of shares, share and browse
// lists, discovery, the helper pool and the search's start. A code is an errno value (as the
// system, or a server's answer through the SMB library, gave it) or one of the engine's own
// kinds below; the helper processes send the same codes. ErrorText is the one place that words
// an error for a person.
enum class ErrorKind : int
{
    None = 0,
    System = 1,         // an errno value says what (Error::nErrno)
    HelperDied = 10001, // the SMB helper ended or broke the protocol
    HelperTimeout,      // the helper missed its deadline and was ended
    NotFileShare,       // a printer, IPC or device share: no files to list
    NoHelper,           // no helper could be started
    Cancelled,          // the caller gave up (Stop, Exit)
    LoginFailed,        // the server refused the user name or password
    NoMdns,             // no mDNS service (avahi-daemon) on this machine
    UnknownHost,        // no name service and no announcement knows the server
    ListingCut,         // a listing reached the entry limit: what came is sound, the rest unread
    NoBrowseServer,     // nobody keeps a browse list for the workgroup
    Busy,               // a search runs already
    TextTooLong,        // the text to look for is longer than a content test takes
    NoTarget,           // nothing to search
};

struct Error
{
    ErrorKind kind = ErrorKind::None;
    int nErrno = 0; // with ErrorKind::System

    Error() = default;
    Error(ErrorKind k) : kind(k) {} // NOLINT: a kind is an error
    // From a code as the engine passes it: 0, an errno value, or a kind's value.
    static Error FromCode(int code);
    // Back to the code (what the helper protocol and ShareFs carry).
    int Code() const { return kind == ErrorKind::System ? nErrno : static_cast<int>(kind); }

    explicit operator bool() const { return kind != ErrorKind::None; }
    bool operator==(const Error&) const = default;
    // The server wants a login (or another one) before it says more.
    bool NeedsLogin() const;
};

// The person's text for an error ("Permission denied", "no answer within the deadline").
QString ErrorText(const Error& error);
inline QString ErrorText(int code)
{
    return ErrorText(Error::FromCode(code));
}
