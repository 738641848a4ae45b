#include "HelperProtocol.h"

#include <QList>

#include <cstring>
#include <type_traits>

namespace smbproto {
namespace {

template <class T> constexpr bool kIsVector = false;
template <class T> constexpr bool kIsVector<std::vector<T>> = true;

template <class T> void Put(QByteArray& out, const T& v)
{
    if constexpr (std::is_integral_v<T>) {
        char b[sizeof(T)];
        for (std::size_t i = 0; i < sizeof(T); ++i)
            b[i] = static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xff);
        out.append(b, sizeof(T));
    } else if constexpr (std::is_same_v<T, QByteArray>) {
        Put(out, static_cast<std::uint32_t>(v.size()));
        out.append(v);
    } else if constexpr (kIsVector<T>) {
        Put(out, static_cast<std::uint32_t>(v.size()));
        for (const auto& item : v)
            Put(out, item);
    } else {
        std::apply([&out](const auto&... f) { (Put(out, f), ...); }, v.Fields());
    }
}

// Reads fields from a frame body; any read past the end marks it failed.
class Cursor
{
public:
    Cursor(const char* p, std::size_t n) : m_p(reinterpret_cast<const unsigned char*>(p)), m_n(n) {}
    bool Ok() const { return m_bOk; }
    std::size_t Left() const { return m_n - m_pos; }

    template <class T> void Get(T& v)
    {
        if (!m_bOk)
            return;
        if constexpr (std::is_integral_v<T>) {
            if (!Need(sizeof(T)))
                return;
            std::uint64_t x = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i)
                x |= static_cast<std::uint64_t>(m_p[m_pos + i]) << (8 * i);
            m_pos += sizeof(T);
            v = static_cast<T>(x);
        } else if constexpr (std::is_same_v<T, QByteArray>) {
            std::uint32_t n = 0;
            Get(n);
            if (!Need(n))
                return;
            v = QByteArray(reinterpret_cast<const char*>(m_p + m_pos), static_cast<qsizetype>(n));
            m_pos += n;
        } else if constexpr (kIsVector<T>) {
            std::uint32_t n = 0;
            Get(n);
            // Every item takes at least 4 bytes: never reserve more than the bytes left hold.
            if (!m_bOk || n > Left() / 4) {
                m_bOk = false;
                return;
            }
            v.clear();
            v.reserve(n);
            for (std::uint32_t i = 0; i < n && m_bOk; ++i)
                Get(v.emplace_back());
        } else {
            std::apply([this](auto&... f) { (Get(f), ...); }, v.Fields());
        }
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

template <class V> QByteArray EncodeAny(const V& m)
{
    QByteArray frame;
    frame.reserve(256);
    Put(frame, std::uint32_t{0}); // the length, filled in below
    std::visit(
        [&frame](const auto& msg) {
            frame.append(static_cast<char>(std::decay_t<decltype(msg)>::kOp));
            Put(frame, msg);
        },
        m);
    const auto nBody = static_cast<std::uint32_t>(frame.size() - 4);
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<char>((nBody >> (8 * i)) & 0xff);
    return frame;
}

// The alternative of V whose op is op, decoded from the rest of the body.
template <class V, std::size_t I = 0> std::optional<V> DecodeAlternative(std::uint8_t op, Cursor& c)
{
    if constexpr (I == std::variant_size_v<V>) {
        return std::nullopt;
    } else {
        using T = std::variant_alternative_t<I, V>;
        if (T::kOp != op)
            return DecodeAlternative<V, I + 1>(op, c);
        T msg;
        c.Get(msg);
        if (!c.Ok() || c.Left() != 0)
            return std::nullopt;
        return V(std::move(msg));
    }
}

template <class V> std::optional<V> DecodeAny(const char* data, std::size_t n)
{
    Cursor c(data, n);
    std::uint8_t op = 0;
    c.Get(op);
    if (!c.Ok())
        return std::nullopt;
    return DecodeAlternative<V>(op, c);
}

std::uint32_t LengthAt(const QByteArray& buffer, qsizetype nPos)
{
    const auto* p = reinterpret_cast<const unsigned char*>(buffer.constData() + nPos);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

QByteArray UrlOf(const Target& t)
{
    QByteArray url = QByteArrayLiteral("smb://") + t.host.toPercentEncoding();
    if (t.share.isEmpty())
        return url;
    url += '/' + t.share.toPercentEncoding();
    for (const QByteArray& name : t.path.split('/'))
        if (!name.isEmpty())
            url += '/' + name.toPercentEncoding();
    return url;
}

QByteArray Encode(const ToHelper& m)
{
    return EncodeAny(m);
}

QByteArray Encode(const FromHelper& m)
{
    return EncodeAny(m);
}

std::optional<ToHelper> DecodeToHelper(const char* data, std::size_t n)
{
    return DecodeAny<ToHelper>(data, n);
}

std::optional<FromHelper> DecodeFromHelper(const char* data, std::size_t n)
{
    return DecodeAny<FromHelper>(data, n);
}

template <class V>
FrameReader::Status FrameReader::NextOf(V* pOut,
                                        std::optional<V> (*decode)(const char*, std::size_t))
{
    const qsizetype nLeft = m_buffer.size() - m_nPos;
    if (nLeft < 4)
        return Status::NeedMore;
    const std::uint32_t len = LengthAt(m_buffer, m_nPos);
    if (len == 0 || len > kMaxFrame)
        return Status::Corrupt;
    if (nLeft - 4 < static_cast<qsizetype>(len))
        return Status::NeedMore;
    std::optional<V> m = decode(m_buffer.constData() + m_nPos + 4, len);
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

FrameReader::Status FrameReader::Next(ToHelper* pOut)
{
    return NextOf(pOut, &DecodeToHelper);
}

FrameReader::Status FrameReader::Next(FromHelper* pOut)
{
    return NextOf(pOut, &DecodeFromHelper);
}

} // namespace smbproto
