#include "LsaPdu.h"

#include <QtEndian>

namespace lsa {

namespace {

enum : quint8
{
    kRequest = 0,
    kResponse = 2,
    kBind = 11,
    kBindAck = 12,
};
constexpr quint16 kOpOpenPolicy = 6;
constexpr quint16 kOpQueryInformationPolicy = 7;
constexpr quint16 kPrimaryDomainInformation = 3;
constexpr int kHandleSize = 20;
constexpr int kResponseHeader = 24; // common header, alloc hint, context id, cancel count

void Put16(QByteArray& b, quint16 v)
{
    b.append(static_cast<char>(v & 0xff)).append(static_cast<char>(v >> 8));
}
void Put32(QByteArray& b, quint32 v)
{
    Put16(b, static_cast<quint16>(v & 0xffff));
    Put16(b, static_cast<quint16>(v >> 16));
}
quint16 Get16(const QByteArray& b, int at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
quint32 Get32(const QByteArray& b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
// A UUID as NDR sends it: the first three fields little-endian, the last eight bytes as they are.
void PutUuid(QByteArray& b, quint32 a, quint16 c, quint16 d, const char (&rest)[9])
{
    Put32(b, a);
    Put16(b, c);
    Put16(b, d);
    b.append(rest, 8);
}

QByteArray Pdu(quint8 type, quint32 nCallId, const QByteArray& body)
{
    QByteArray b;
    b.append(char(5)).append(char(0)).append(static_cast<char>(type));
    b.append(char(0x03));            // first and last fragment
    b.append("\x10\x00\x00\x00", 4); // little-endian, ASCII, IEEE floats
    Put16(b, static_cast<quint16>(kHeaderSize + body.size()));
    Put16(b, 0); // no authentication
    Put32(b, nCallId);
    return b + body;
}

QByteArray Request(quint32 nCallId, quint16 nOp, const QByteArray& stub)
{
    QByteArray body;
    Put32(body, static_cast<quint32>(stub.size())); // alloc hint
    Put16(body, 0);                                 // presentation context 0
    Put16(body, nOp);
    return Pdu(kRequest, nCallId, body + stub);
}

// The stub of a response PDU, when pdu is one.
bool ResponseStub(const QByteArray& pdu, QByteArray* pStub)
{
    if (pdu.size() < kResponseHeader || FragmentLength(pdu) != pdu.size() ||
        static_cast<quint8>(pdu[2]) != kResponse)
        return false;
    *pStub = pdu.mid(kResponseHeader);
    return true;
}

} // namespace

QByteArray BindPdu(quint32 nCallId)
{
    QByteArray body;
    Put16(body, kMaxFragment);                // max transmit fragment
    Put16(body, kMaxFragment);                // max receive fragment
    Put32(body, 0);                           // a new association group
    body.append(char(1)).append("\0\0\0", 3); // one presentation context
    Put16(body, 0);                           // its id
    body.append(char(1)).append(char(0));     // one transfer syntax
    PutUuid(body, 0x12345778, 0x1234, 0xabcd, "\xef\x00\x01\x23\x45\x67\x89\xab"); // lsarpc
    Put32(body, 0);                                                                // v0.0
    PutUuid(body, 0x8a885d04, 0x1ceb, 0x11c9, "\x9f\xe8\x08\x00\x2b\x10\x48\x60"); // NDR
    Put32(body, 2);
    return Pdu(kBind, nCallId, body);
}

QByteArray OpenPolicyPdu(quint32 nCallId)
{
    QByteArray stub;
    Put32(stub, 0);  // SystemName: none
    Put32(stub, 24); // ObjectAttributes: its length
    for (int i = 0; i < 4; ++i)
        Put32(stub, 0);      // root directory, object name, attributes, security descriptor
    Put32(stub, 0x00020000); // security quality of service (a pointer's referent id)
    Put32(stub, 12);         //   its length
    Put16(stub, 2);          //   impersonation
    stub.append(char(1)).append(char(0)); // dynamic tracking, not effective only
    Put32(stub, 0x02000000);              // maximum allowed
    return Request(nCallId, kOpOpenPolicy, stub);
}

QByteArray QueryPrimaryDomainPdu(quint32 nCallId, const QByteArray& policyHandle)
{
    QByteArray stub = policyHandle.left(kHandleSize);
    stub.resize(kHandleSize, '\0');
    Put16(stub, kPrimaryDomainInformation);
    return Request(nCallId, kOpQueryInformationPolicy, stub);
}

int FragmentLength(const QByteArray& header)
{
    if (header.size() < kHeaderSize || header[0] != 5 || header[1] != 0 ||
        (static_cast<quint8>(header[4]) & 0xf0) != 0x10)
        return 0;
    const int n = Get16(header, 8);
    return n >= kHeaderSize ? n : 0;
}

bool ParseBindAck(const QByteArray& pdu)
{
    if (pdu.size() < kHeaderSize + 10 || FragmentLength(pdu) != pdu.size() ||
        static_cast<quint8>(pdu[2]) != kBindAck)
        return false;
    // The secondary address (a counted string), padded to four bytes, then the results.
    int at = kHeaderSize + 8;
    const int nAddress = Get16(pdu, at);
    at += 2 + nAddress;
    at = (at + 3) & ~3;
    if (at + 8 > pdu.size() || static_cast<quint8>(pdu[at]) < 1)
        return false;
    return Get16(pdu, at + 4) == 0; // the first context: accepted
}

bool ParseOpenPolicy(const QByteArray& pdu, QByteArray* pHandle)
{
    QByteArray stub;
    if (!ResponseStub(pdu, &stub) || stub.size() < kHandleSize + 4 || Get32(stub, kHandleSize) != 0)
        return false;
    *pHandle = stub.left(kHandleSize);
    return true;
}

bool ParsePrimaryDomain(const QByteArray& pdu, QString* pName)
{
    QByteArray s;
    if (!ResponseStub(pdu, &s) || s.size() < 4 + 4)
        return false;
    // The last four bytes are the call's status.
    if (Get32(s, s.size() - 4) != 0 || Get32(s, 0) == 0)
        return false;
    // Referent, level and padding; the name's lengths and buffer referent; the SID's referent.
    if (s.size() < 20 || Get16(s, 4) != kPrimaryDomainInformation)
        return false;
    const int nBytes = Get16(s, 8);
    if (Get32(s, 12) == 0 || nBytes == 0) {
        pName->clear();
        return true;
    }
    // The name's characters: maximum count, offset, actual count, then UTF-16LE.
    int at = 20;
    if (at + 12 > s.size())
        return false;
    const quint32 nActual = Get32(s, at + 8);
    at += 12;
    if (nActual > 256 || at + int(nActual) * 2 > s.size() || int(nActual) * 2 < nBytes)
        return false;
    QString name;
    for (int i = 0; i < nBytes / 2; ++i)
        name.append(QChar(Get16(s, at + 2 * i)));
    *pName = name;
    return true;
}

} // namespace lsa
