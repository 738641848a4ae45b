// Saved finds lists: whatever the paths, every path reads back whole, one per line.
#include "app/ControlChars.h"
#include "results/FindsFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Paths separated by NUL, as UTF-8 (what is no UTF-8 becomes U+FFFD, as names do).
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList paths;
    for (const QByteArray& part : bytes.split('\0'))
        paths << QString::fromUtf8(part);
    const QByteArray saved = finds::Serialize(paths);
    QStringList expected;
    for (const QString& p : paths)
        expected << ctl::FromPictures(p); // a picture in a name reads back as its character
    if (finds::Parse(saved) != expected)
        std::abort();
    // And a list from anywhere is read without a crash.
    (void)finds::Parse(bytes);
    return 0;
}
