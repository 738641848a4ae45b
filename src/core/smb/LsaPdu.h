#pragma once

#include <QByteArray>
#include <QString>

// The three DCE/RPC calls that ask a server for its workgroup or domain over the \lsarpc pipe
// of IPC$, the way Windows tools ask an anonymous server: a bind to the LSA interface, an
// OpenPolicy, and a QueryInformationPolicy for the primary domain (whose name is the workgroup
// on a computer that belongs to none). Little-endian NDR, no authentication; each PDU in one
// fragment.
//
// Pure functions: the SMB helper writes and reads them on the pipe, tests check them here.
namespace lsa {

constexpr int kHeaderSize = 16;    // common header of every PDU
constexpr int kMaxFragment = 4280; // what we offer and accept

QByteArray BindPdu(quint32 nCallId);
QByteArray OpenPolicyPdu(quint32 nCallId);
QByteArray QueryPrimaryDomainPdu(quint32 nCallId, const QByteArray& policyHandle);

// A PDU's length from its first 16 bytes; 0 when they are not a PDU header we read.
int FragmentLength(const QByteArray& header);

// The answers. Each returns false when the PDU is not the expected answer (a fault, a rejected
// bind, a failure status, a truncated or malformed body).
bool ParseBindAck(const QByteArray& pdu);
bool ParseOpenPolicy(const QByteArray& pdu, QByteArray* pHandle);
bool ParsePrimaryDomain(const QByteArray& pdu, QString* pName);

} // namespace lsa
