#pragma once

#include "app/Error.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <tuple>
#include <variant>
#include <vector>

// The messages between the program and its SMB helper processes (brindlecove-smb).
//
// The parent sends requests (ToHelper); the helper answers each, in the order they came, with
// data frames and one Done (FromHelper). Several requests may be in flight on one helper. While
// a request runs the helper may ask which login to use (AuthAsk); the parent answers with an
// AuthAnswer before anything else.
//
// A frame is a 32-bit little-endian length and a body: one op byte, then the message's fields
// in the order its Fields() names them (numbers as 64-bit little-endian, byte strings and lists
// as a 32-bit count and their items). Every message encodes and decodes itself through its
// Fields(); the list of messages is the two variants below, and nowhere else.
//
// The decoder never trusts a length: a frame that is too long, truncated, longer than its
// fields or names an op of the other direction is refused, and the caller drops the peer.
namespace smbproto {

// Byte strings are UTF-8. The fields a message encodes, in order.
#define BC_PROTO_FIELDS(...)                                                                       \
    auto Fields()                                                                                  \
    {                                                                                              \
        return std::tie(__VA_ARGS__);                                                              \
    }                                                                                              \
    auto Fields() const                                                                            \
    {                                                                                              \
        return std::tie(__VA_ARGS__);                                                              \
    }

// Where a request goes: a server, a share on it and a path inside the share, each as plain
// text (the helper builds the library's URL). Parsed once from what the user sees
// (smb::SmbPath).
struct Target
{
    QByteArray host;  // the server's name, or the address an announcement gave it; for a
                      // browse list a workgroup, or empty for the list of workgroups
    QByteArray share; // empty: the server itself
    QByteArray path;  // inside the share, '/' between names, empty for the share's root
    BC_PROTO_FIELDS(host, share, path)
    bool operator==(const Target&) const = default;
};
// smb://host/share/path with every name percent-encoded.
QByteArray UrlOf(const Target& t);

// One entry of a folder listing.
struct FileEntry
{
    QByteArray name;
    std::uint32_t nAttributes = 0; // 0x10 folder, 0x02 hidden, 0x01 read-only, 0x80 normal
    std::uint64_t nSize = 0;
    std::uint64_t nTime = 0; // 100-ns intervals since 1601
    BC_PROTO_FIELDS(name, nAttributes, nSize, nTime)
};

// Browse types of a share or server list (the library's numbering).
enum BrowseType : std::uint32_t
{
    kWorkgroup = 1,
    kServer = 2,
    kFileShare = 3,
    kPrinterShare = 4,
    kCommsShare = 5,
    kIpcShare = 6,
};

// One entry of a browse list (workgroups, servers, shares) or of an mDNS browse.
struct NameEntry
{
    QByteArray name;
    std::uint32_t nType = 0; // BrowseType
    QByteArray comment;      // an mDNS browse: the host's address
    BC_PROTO_FIELDS(name, nType, comment)
};

// ---- Parent to helper ------------------------------------------------------------------------

// smb://, smb://WORKGROUP or smb://HOST: Names*, Done.
struct ListNames
{
    static constexpr std::uint8_t kOp = 1;
    Target at;
    BC_PROTO_FIELDS(at)
};
// A folder: Entries*, Done (kErrListingCut when the entry cap cut it).
struct ListFolder
{
    static constexpr std::uint8_t kOp = 2;
    Target at;
    BC_PROTO_FIELDS(at)
};
// Does the file hold one of the needles (each in its encodings)? Progress*, Done (nResult 1:
// found). No more than nListedSize (when not 0) and a margin is read.
struct Contains
{
    static constexpr std::uint8_t kOp = 3;
    Target at;
    std::vector<QByteArray> needles;
    std::uint64_t nListedSize = 0;
    BC_PROTO_FIELDS(at, needles, nListedSize)
};
// Opens a file for Read: Done (nResult its size). One open file per helper.
struct OpenRead
{
    static constexpr std::uint8_t kOp = 4;
    Target at;
    BC_PROTO_FIELDS(at)
};
// At most nMax bytes of the open file: Done (data; empty at the end).
struct Read
{
    static constexpr std::uint8_t kOp = 5;
    std::uint64_t nMax = 0;
    BC_PROTO_FIELDS(nMax)
};
// Closes the open file: Done.
struct Close
{
    static constexpr std::uint8_t kOp = 6;
    auto Fields() { return std::tie(); }
    auto Fields() const { return std::tie(); }
};
// Removes a file, or an empty folder: Done.
struct Remove
{
    static constexpr std::uint8_t kOp = 7;
    Target at;
    std::uint8_t bFolder = 0;
    BC_PROTO_FIELDS(at, bFolder)
};
// Size, time and folder bit: StatReply, Done.
struct Stat
{
    static constexpr std::uint8_t kOp = 8;
    Target at;
    BC_PROTO_FIELDS(at)
};
// The workgroup or domain a host belongs to (LSA over IPC$): Done (data the name).
struct QueryDomain
{
    static constexpr std::uint8_t kOp = 9;
    Target at;
    BC_PROTO_FIELDS(at)
};
// SMB services announced by mDNS, for msTotal at most, on the interfaces named in interfaces
// ("lo,eth1"; empty: all): Names* (name the host name, comment its address), Done (kErrNoMdns,
// data why).
struct BrowseMdns
{
    static constexpr std::uint8_t kOp = 10;
    std::uint64_t msTotal = 0;
    QByteArray interfaces;
    BC_PROTO_FIELDS(msTotal, interfaces)
};
// Watches a folder and everything below it (an SMB2 change notification) until the parent
// ends the helper: Changes as they come, Progress about every second when nothing changes,
// Done only when the watch failed (the server refused it, or the connection went).
struct Watch
{
    static constexpr std::uint8_t kOp = 11;
    Target at;
    BC_PROTO_FIELDS(at)
};

// The answer to an AuthAsk: the login of generation nGen.
struct AuthAnswer
{
    static constexpr std::uint8_t kOp = 20;
    QByteArray workgroup, user, password;
    std::uint64_t nGen = 0;
    std::uint8_t bKerberos = 0; // use the ticket in the user's credential cache
    std::uint8_t bGiveUp = 0;   // no other login to try: fail the request
    BC_PROTO_FIELDS(workgroup, user, password, nGen, bKerberos, bGiveUp)
};

// ---- Helper to parent ------------------------------------------------------------------------

struct Names
{
    static constexpr std::uint8_t kOp = 64;
    std::vector<NameEntry> names;
    BC_PROTO_FIELDS(names)
};
struct Entries
{
    static constexpr std::uint8_t kOp = 65;
    std::vector<FileEntry> entries;
    BC_PROTO_FIELDS(entries)
};
// A long request (a content test of a large file) is still alive.
struct Progress
{
    static constexpr std::uint8_t kOp = 66;
    std::uint64_t nBytes = 0;
    BC_PROTO_FIELDS(nBytes)
};
struct StatReply
{
    static constexpr std::uint8_t kOp = 67;
    FileEntry entry;
    std::uint64_t nInode = 0, nDevice = 0;
    BC_PROTO_FIELDS(entry, nInode, nDevice)
};

// What refused a login.
enum RefusedBy : std::uint8_t
{
    kRefusedLogin = 1, // the server: wrong user name or password
    kRefusedShare = 2, // the share: the user may not open it
};
// Which login for server (share: the one being opened)? With bRefused: the login of
// generation nGen was refused, by refusedBy.
struct AuthAsk
{
    static constexpr std::uint8_t kOp = 68;
    QByteArray server, share;
    std::uint8_t bRefused = 0;
    std::uint64_t nGen = 0;
    std::uint8_t refusedBy = 0; // RefusedBy
    BC_PROTO_FIELDS(server, share, bRefused, nGen, refusedBy)
};
// What a watched folder's server says changed: each a name below the folder ('\\' between
// names) and what happened to it (the library's SMBC_NOTIFY_ACTION_*: 1 added, 2 removed,
// 3 modified, 4 renamed from, 5 renamed to). No name at all: more changed than the server
// could tell (the folder is to be listed again whole).
struct Change
{
    std::uint32_t nAction = 0;
    QByteArray name;
    BC_PROTO_FIELDS(nAction, name)
};
struct Changes
{
    static constexpr std::uint8_t kOp = 70;
    std::vector<Change> changes;
    BC_PROTO_FIELDS(changes)
};

// The end of a request: 0, an errno value or one of ours; nResult and data as the request says.
struct Done
{
    static constexpr std::uint8_t kOp = 69;
    std::uint32_t nError = 0;
    std::uint64_t nResult = 0;
    QByteArray data;
    BC_PROTO_FIELDS(nError, nResult, data)
};

using ToHelper = std::variant<ListNames, ListFolder, Contains, OpenRead, Read, Close, Remove, Stat,
                              QueryDomain, BrowseMdns, Watch, AuthAnswer>;
using FromHelper = std::variant<Names, Entries, Progress, StatReply, AuthAsk, Done, Changes>;

#undef BC_PROTO_FIELDS

// The target of a request that names one (null for Read, Close, a browse of mDNS, an answer).
inline const Target* TargetOf(const ToHelper& req)
{
    return std::visit(
        [](const auto& r) -> const Target* {
            if constexpr (requires { r.at; })
                return &r.at;
            else
                return nullptr;
        },
        req);
}

// The engine's own error codes on the wire, beside errno values (one list: ErrorKind).
constexpr int kErrHelperDied = static_cast<int>(ErrorKind::HelperDied);
constexpr int kErrHelperTimeout = static_cast<int>(ErrorKind::HelperTimeout);
constexpr int kErrNotFileShare = static_cast<int>(ErrorKind::NotFileShare);
constexpr int kErrNoHelper = static_cast<int>(ErrorKind::NoHelper);
constexpr int kErrCancelled = static_cast<int>(ErrorKind::Cancelled);
constexpr int kErrLoginFailed = static_cast<int>(ErrorKind::LoginFailed);
constexpr int kErrNoMdns = static_cast<int>(ErrorKind::NoMdns);
constexpr int kErrUnknownHost = static_cast<int>(ErrorKind::UnknownHost);
constexpr int kErrListingCut = static_cast<int>(ErrorKind::ListingCut);

// The largest frame either side accepts (a read block or a chunk of a listing is far below).
constexpr std::uint32_t kMaxFrame = 16u << 20;
// Entries per Names/Entries frame.
constexpr int kEntriesPerFrame = 512;

// The whole frame, length prefix included.
QByteArray Encode(const ToHelper& m);
QByteArray Encode(const FromHelper& m);
// One frame's body (without the length prefix); empty when it is malformed.
std::optional<ToHelper> DecodeToHelper(const char* data, std::size_t n);
std::optional<FromHelper> DecodeFromHelper(const char* data, std::size_t n);

// Collects bytes from a stream and cuts them into frames.
class FrameReader
{
public:
    void Append(const char* data, std::size_t n)
    {
        m_buffer.append(data, static_cast<qsizetype>(n));
    }
    enum class Status
    {
        Frame,    // *pOut holds the next message
        NeedMore, // no whole frame yet
        Corrupt   // the stream is broken: drop it
    };
    Status Next(ToHelper* pOut);
    Status Next(FromHelper* pOut);

private:
    template <class V> Status NextOf(V* pOut, std::optional<V> (*decode)(const char*, std::size_t));
    QByteArray m_buffer;
    qsizetype m_nPos = 0;
};

} // namespace smbproto
