// What hosts on the network answer to Discover's questions, from anywhere: a NetBIOS node
// status answer, the LSA answers on \lsarpc, a WS-Discovery message. No parser crashes or reads
// past its bytes, and what they take stays within what they were given.
#include "network/NetbiosStatus.h"
#include "network/WsDiscovery.h"
#include "smb/LsaPdu.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray in =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    quint16 nId = 0;
    if (nbstat::WorkgroupFromAnswer(in, &nId).size() > 15)
        std::abort();
    const int nFragment = lsa::FragmentLength(in);
    if (nFragment != 0 && nFragment < lsa::kHeaderSize)
        std::abort();
    lsa::ParseBindAck(in);
    QByteArray handle;
    if (lsa::ParseOpenPolicy(in, &handle) && handle.size() != 20)
        std::abort();
    QString name;
    if (lsa::ParsePrimaryDomain(in, &name) && name.size() > 256)
        std::abort();
    wsd::Parse(in);
    return 0;
}
