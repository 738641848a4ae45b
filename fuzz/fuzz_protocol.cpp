// The helpers' frames from anywhere, in either direction: the reader never crashes or reads
// past its bytes, and a message it takes encodes back to the bytes it came from.
#include "smb/HelperProtocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

template <class V>
void RoundTrip(const char* p, std::size_t size,
               std::optional<V> (*decode)(const char*, std::size_t))
{
    if (auto m = decode(p, size)) {
        const QByteArray again = smbproto::Encode(*m);
        // Encode writes the length prefix; the body is what the decoder took.
        if (again.size() != qsizetype(size) + 4 || std::memcmp(again.constData() + 4, p, size) != 0)
            std::abort();
    }
    // As a stream, in two pieces.
    smbproto::FrameReader reader;
    reader.Append(p, size / 2);
    V m;
    int nFrames = 0;
    while (reader.Next(&m) == smbproto::FrameReader::Status::Frame)
        ++nFrames;
    reader.Append(p + size / 2, size - size / 2);
    while (reader.Next(&m) == smbproto::FrameReader::Status::Frame && ++nFrames < 10000)
        ;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* p = reinterpret_cast<const char*>(data);
    RoundTrip<smbproto::ToHelper>(p, size, &smbproto::DecodeToHelper);
    RoundTrip<smbproto::FromHelper>(p, size, &smbproto::DecodeFromHelper);
    return 0;
}
