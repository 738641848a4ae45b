#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

// The messages between the program and its SMB helper processes (brindlecove-smb).
//
// A frame is a 32-bit little-endian length followed by that many bytes: one op byte, then the
// message's fields in a fixed order (two numbers, three byte strings, a list of entries). The
// parent sends one request and reads frames until the matching Done; the helper may send data
// frames (Names, Entries, Data, Stat, Progress) and ask for credentials (AuthAsk, answered with
// AuthAnswer) before it. Byte strings are UTF-8 for names and URLs.
//
// The decoder never trusts a length: a frame that is too long, truncated or names an unknown op
// is refused, and the caller drops the helper that sent it.
namespace smbproto {

enum class Op : std::uint8_t
{
    // Parent to helper.
    ListNames = 1,    // s1 URL (smb://, smb://WG, smb://HOST): Names*, Done
    ListFolder = 2,   // s1 URL of a folder: Entries*, Done
    Contains = 3,     // s1 URL, entries the needles (name each), n1 the listed size (0: not
                      // known): Progress*, Done (n1 1 when found)
    OpenRead = 4,     // s1 URL: Done (n1 size)
    Read = 5,         // n1 bytes at most: Data or Done (n1 0 at the end)
    Close = 6,        // the open file: Done
    OpenWrite = 7,    // s1 URL, n1 1 for "must not exist": Done
    Write = 8,        // s1 bytes: Done
    Unlink = 9,       // s1 URL: Done
    Rmdir = 10,       // s1 URL: Done
    Mkdir = 11,       // s1 URL: Done
    Rename = 12,      // s1 from, s2 to: Done
    Stat = 13,        // s1 URL: Stat, Done
    QueryDomain = 14, // s1 smb://HOST: Done (s1 the workgroup or domain the host belongs to)
    BrowseMdns = 15,  // n1 ms at most; n2 1: only the interfaces in s1 ("lo,eth1"): Names*
                      // (name the host name, comment its address), Done (kErrNoMdns, s1 why)
    AuthAnswer = 20,  // s1 workgroup, s2 user, s3 password; n1 the login's generation,
                      // n2 kLogin* flags
                      // Helper to parent.
    Names = 64,       // entries: name, type (browse type), comment
    Entries = 65,     // entries: name, attributes, size, time
    Progress = 66,    // n1 bytes done: a long request is still alive
    Data = 67,        // s1 bytes read
    StatReply = 68,   // one entry: attributes, size, time; n1 inode, n2 device
    AuthAsk = 69,     // s1 server, s2 share; n1 0: which login to use; n1 G+1: the login of
                      // generation G was refused, n2 kRefused* (what refused it)
    Done = 70,        // n2 error (0 or an errno value or one of ours), n1 a result
};

// Errors of our own, beside errno values.
constexpr int kErrHelperDied = 10001;    // the helper ended or broke the protocol
constexpr int kErrHelperTimeout = 10002; // the helper missed its deadline and was ended
constexpr int kErrNotFileShare = 10003;  // a printer, IPC or device share: no files to list
constexpr int kErrNoHelper = 10004;      // no helper could be started
constexpr int kErrCancelled = 10005;     // the caller gave up (Stop, Exit)
constexpr int kErrLoginFailed = 10006;   // the server refused the user name or password
constexpr int kErrNoMdns = 10007;        // no mDNS service (avahi-daemon) on this machine
constexpr int kErrUnknownHost = 10008;   // no name service and no announcement knows the server
constexpr int kErrListingCut = 10009;    // a folder listing reached the entry limit: the entries
                                         // sent are sound, the rest were not read

// AuthAnswer flags.
constexpr std::uint64_t kLoginKerberos = 1; // use the ticket in the user's credential cache
constexpr std::uint64_t kLoginGiveUp = 2;   // no other login to try: fail the request

// What refused a login (AuthAsk n2).
constexpr std::uint64_t kRefusedLogin = 1; // the server: wrong user name or password
constexpr std::uint64_t kRefusedShare = 2; // the share: the user may not open it

// Browse types of ListNames entries (libsmbclient's numbering).
enum BrowseType : std::uint32_t
{
    kWorkgroup = 1,
    kServer = 2,
    kFileShare = 3,
    kPrinterShare = 4,
    kCommsShare = 5,
    kIpcShare = 6,
};

struct Entry
{
    QByteArray name;
    std::uint32_t nAttributes = 0; // ListFolder: 0x10 folder, ...; ListNames: BrowseType
    std::uint64_t nSize = 0;
    std::uint64_t nTime = 0; // 100-ns intervals since 1601
    QByteArray comment;
};

struct Message
{
    Op op = Op::Done;
    std::uint64_t n1 = 0;
    std::uint64_t n2 = 0;
    QByteArray s1, s2, s3;
    std::vector<Entry> entries;
};

// The largest frame either side accepts (a read block or a chunk of a listing is far below).
constexpr std::uint32_t kMaxFrame = 16u << 20;
// Entries per Names/Entries frame.
constexpr int kEntriesPerFrame = 512;

// The whole frame, length prefix included.
QByteArray Encode(const Message& m);
// One frame's body (without the length prefix); empty when it is malformed.
std::optional<Message> Decode(const char* data, std::size_t n);

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
    Status Next(Message* pOut);
    // A whole frame is waiting (it may still turn out corrupt).
    bool HasFrame() const;

private:
    QByteArray m_buffer;
    qsizetype m_nPos = 0;
};

// A text for an error code: strerror for errno values, ours for ours.
QByteArray ErrorText(int err);

} // namespace smbproto
