// The helper's workgroup question: which workgroup or domain a server belongs to, asked over
// the \lsarpc pipe of its IPC$ share (hosts with NetBIOS off name it nowhere else).
#include "SmbServer.h"

#include "smb/LsaPdu.h"

#include <libsmbclient.h>

#include <fcntl.h>

#include <cerrno>

SmbServer::Outcome SmbServer::QueryDomain(const smbproto::Target& host)
{
    if (host.host.isEmpty() || !host.share.isEmpty())
        return {EINVAL};
    const QByteArray url = smbproto::UrlOf({host.host, "IPC$", "lsarpc"});
    SMBCFILE* pipe = smbc_getFunctionOpen(m_pCtx)(m_pCtx, url.constData(), O_RDWR, 0);
    if (!pipe)
        return {ErrnoOr(EIO)};
    auto write = smbc_getFunctionWrite(m_pCtx);
    auto read = smbc_getFunctionRead(m_pCtx);
    // One call: the PDU out, its answer in. A read asks for exactly what is there (the header
    // says how much follows): a longer one would wait on the pipe for more.
    auto call = [&](const QByteArray& pdu, QByteArray* pAnswer) -> int {
        if (write(m_pCtx, pipe, pdu.constData(), static_cast<size_t>(pdu.size())) != pdu.size())
            return ErrnoOr(EIO);
        QByteArray answer(lsa::kHeaderSize, '\0');
        if (read(m_pCtx, pipe, answer.data(), lsa::kHeaderSize) != lsa::kHeaderSize)
            return ErrnoOr(EIO);
        const int nLength = lsa::FragmentLength(answer);
        if (nLength < lsa::kHeaderSize || nLength > lsa::kMaxFragment)
            return EPROTO;
        answer.resize(nLength);
        int nHave = lsa::kHeaderSize;
        while (nHave < nLength) {
            const ssize_t got =
                read(m_pCtx, pipe, answer.data() + nHave, static_cast<size_t>(nLength - nHave));
            if (got <= 0)
                return got < 0 ? ErrnoOr(EIO) : EPROTO;
            nHave += static_cast<int>(got);
        }
        *pAnswer = answer;
        return 0;
    };
    QByteArray answer, handle;
    QString name;
    int err = call(lsa::BindPdu(1), &answer);
    if (err == 0 && !lsa::ParseBindAck(answer))
        err = EPROTO;
    if (err == 0)
        err = call(lsa::OpenPolicyPdu(2), &answer);
    if (err == 0 && !lsa::ParseOpenPolicy(answer, &handle))
        err = EACCES; // the server keeps its policy to itself
    if (err == 0)
        err = call(lsa::QueryPrimaryDomainPdu(3, handle), &answer);
    if (err == 0 && !lsa::ParsePrimaryDomain(answer, &name))
        err = EACCES;
    smbc_getFunctionClose(m_pCtx)(m_pCtx, pipe);
    return {err, 0, err == 0 ? name.toUtf8() : QByteArray()};
}
