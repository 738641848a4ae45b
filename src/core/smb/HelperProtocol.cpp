#include "HelperProtocol.h"

#include <cstring>

namespace smbproto {
namespace {

void PutU32(QByteArray& out, std::uint32_t v)
{
    char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    out.append(b, 4);
}

void PutU64(QByteArray& out, std::uint64_t v)
{
    char b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    out.append(b, 8);
}

void PutBytes(QByteArray& out, const QByteArray& s)
{
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    out.append(s);
}

// Reads fields from a frame body; any read past the end marks it failed.
class Cursor
{
public:
    Cursor(const char* p, std::size_t n) : m_p(reinterpret_cast<const unsigned char*>(p)), m_n(n) {}
    bool Ok() const { return m_bOk; }
    std::size_t Left() const { return m_n - m_pos; }
    std::uint8_t U8()
    {
        if (!Need(1))
            return 0;
        return m_p[m_pos++];
    }
    std::uint32_t U32()
    {
        if (!Need(4))
            return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(m_p[m_pos + static_cast<std::size_t>(i)]) << (8 * i);
        m_pos += 4;
        return v;
    }
    std::uint64_t U64()
    {
        if (!Need(8))
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<std::uint64_t>(m_p[m_pos + static_cast<std::size_t>(i)]) << (8 * i);
        m_pos += 8;
        return v;
    }
    QByteArray Bytes()
    {
        const std::uint32_t n = U32();
        if (!Need(n))
            return {};
        QByteArray s(reinterpret_cast<const char*>(m_p + m_pos), static_cast<qsizetype>(n));
        m_pos += n;
        return s;
    }

private:
    bool Need(std::size_t n)
    {
        if (!m_bOk || Left() < n) {
            m_bOk = false;
            return false;
        }
        return true;
    }
    const unsigned char* m_p;
    std::size_t m_n;
    std::size_t m_pos = 0;
    bool m_bOk = true;
};

bool KnownOp(std::uint8_t op)
{
    return (op >= 1 && op <= 15) || op == 20 || (op >= 64 && op <= 70);
}

// The smallest encoded entry: four lengths and numbers, no bytes.
constexpr std::size_t kMinEntry = 4 + 4 + 8 + 8 + 4;

} // namespace

QByteArray Encode(const Message& m)
{
    QByteArray body;
    body.reserve(64 + m.s1.size() + m.s2.size() + m.s3.size() +
                 static_cast<qsizetype>(m.entries.size()) * 48);
    body.append(static_cast<char>(m.op));
    PutU64(body, m.n1);
    PutU64(body, m.n2);
    PutBytes(body, m.s1);
    PutBytes(body, m.s2);
    PutBytes(body, m.s3);
    PutU32(body, static_cast<std::uint32_t>(m.entries.size()));
    for (const Entry& e : m.entries) {
        PutBytes(body, e.name);
        PutU32(body, e.nAttributes);
        PutU64(body, e.nSize);
        PutU64(body, e.nTime);
        PutBytes(body, e.comment);
    }
    QByteArray frame;
    frame.reserve(body.size() + 4);
    PutU32(frame, static_cast<std::uint32_t>(body.size()));
    frame.append(body);
    return frame;
}

std::optional<Message> Decode(const char* data, std::size_t n)
{
    Cursor c(data, n);
    Message m;
    const std::uint8_t op = c.U8();
    if (!c.Ok() || !KnownOp(op))
        return std::nullopt;
    m.op = static_cast<Op>(op);
    m.n1 = c.U64();
    m.n2 = c.U64();
    m.s1 = c.Bytes();
    m.s2 = c.Bytes();
    m.s3 = c.Bytes();
    const std::uint32_t nEntries = c.U32();
    // Never reserve more than the bytes left could hold.
    if (!c.Ok() || nEntries > c.Left() / kMinEntry)
        return std::nullopt;
    m.entries.reserve(nEntries);
    for (std::uint32_t i = 0; i < nEntries; ++i) {
        Entry e;
        e.name = c.Bytes();
        e.nAttributes = c.U32();
        e.nSize = c.U64();
        e.nTime = c.U64();
        e.comment = c.Bytes();
        if (!c.Ok())
            return std::nullopt;
        m.entries.push_back(std::move(e));
    }
    if (!c.Ok() || c.Left() != 0)
        return std::nullopt;
    return m;
}

FrameReader::Status FrameReader::Next(Message* pOut)
{
    const qsizetype nLeft = m_buffer.size() - m_nPos;
    if (nLeft < 4)
        return Status::NeedMore;
    const auto* p = reinterpret_cast<const unsigned char*>(m_buffer.constData() + m_nPos);
    const std::uint32_t len =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    if (len == 0 || len > kMaxFrame)
        return Status::Corrupt;
    if (nLeft - 4 < static_cast<qsizetype>(len))
        return Status::NeedMore;
    std::optional<Message> m = Decode(m_buffer.constData() + m_nPos + 4, len);
    if (!m)
        return Status::Corrupt;
    m_nPos += 4 + static_cast<qsizetype>(len);
    // Drop what was taken once it is a fair share of the buffer.
    if (m_nPos == m_buffer.size()) {
        m_buffer.clear();
        m_nPos = 0;
    } else if (m_nPos > (1 << 20) && m_nPos * 2 > m_buffer.size()) {
        m_buffer.remove(0, m_nPos);
        m_nPos = 0;
    }
    *pOut = std::move(*m);
    return Status::Frame;
}

bool FrameReader::HasFrame() const
{
    const qsizetype nLeft = m_buffer.size() - m_nPos;
    if (nLeft < 4)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(m_buffer.constData() + m_nPos);
    const std::uint32_t len =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return nLeft - 4 >= static_cast<qsizetype>(len);
}

QByteArray ErrorText(int err)
{
    switch (err) {
    case 0:
        return "no error";
    case kErrHelperDied:
        return "the SMB helper process ended unexpectedly";
    case kErrHelperTimeout:
        return "no answer within the deadline";
    case kErrNotFileShare:
        return "not a file share";
    case kErrNoHelper:
        return "the SMB helper could not be started";
    case kErrCancelled:
        return "cancelled";
    case kErrLoginFailed:
        return "login failed: unknown user name or bad password";
    case kErrNoMdns:
        return "no mDNS service on this machine";
    case kErrUnknownHost:
        return "the server name was not found on the network";
    case kErrListingCut:
        return "the folder holds more entries than are read of one folder; the rest were left out";
    default:
        break;
    }
    return QByteArray(std::strerror(err));
}

} // namespace smbproto
