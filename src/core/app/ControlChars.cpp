#include "ControlChars.h"

namespace ctl {
namespace {
constexpr char16_t kPictures = 0x2400;
constexpr char16_t kDelPicture = 0x2421;

bool IsControl(char16_t c)
{
    return c < 0x20 || c == 0x7f;
}
} // namespace

bool HasControls(const QString& text)
{
    for (QChar c : text)
        if (IsControl(c.unicode()))
            return true;
    return false;
}

QString ToPictures(const QString& text)
{
    if (!HasControls(text))
        return text;
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u == 0x7f)
            c = QChar(kDelPicture);
        else if (u < 0x20)
            c = QChar(static_cast<char16_t>(kPictures + u));
    }
    return out;
}

QString FromPictures(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u == kDelPicture)
            c = QChar(char16_t(0x7f));
        else if (u >= kPictures && u < kPictures + 0x20)
            c = QChar(static_cast<char16_t>(u - kPictures));
    }
    return out;
}

} // namespace ctl
