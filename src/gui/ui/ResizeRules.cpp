#include "ResizeRules.h"

namespace resize {
namespace {

// One axis: the new low and high edge by the rule's table.
void Apply(int rule, int lo, int hi, int size, int size0, int delta, double fPos, double fSize,
           int* pLo, int* pHi)
{
    const int w = hi - lo;
    switch (rule) {
    case Stretch:
        *pLo = lo;
        *pHi = hi + delta;
        break;
    case Move:
        *pLo = lo + delta;
        *pHi = hi + delta;
        break;
    case Centre:
        *pLo = static_cast<int>(size * fPos - w * 0.5);
        *pHi = *pLo + w;
        break;
    case Scale:
        *pLo = static_cast<int>(static_cast<double>(lo) * size / size0);
        *pHi = static_cast<int>(static_cast<double>(hi) * size / size0);
        break;
    case Proportional:
        *pLo = lo + static_cast<int>(fPos * (size - size0));
        *pHi = static_cast<int>(lo + w + (fPos + fSize) * (size - size0));
        break;
    default: // Stay, and 6..15
        *pLo = lo;
        *pHi = hi;
        break;
    }
}

bool IsAbsolute(int rule)
{
    return rule == Scale || rule == Proportional;
}

} // namespace

Edges GuessMovingEdges(const QRect& oldClient, const QRect& newClient, const QPoint& pointer)
{
    Edges e;
    // The centre, halved toward zero, of the new client rectangle (right/bottom exclusive).
    const int cx = (newClient.left() + newClient.left() + newClient.width()) / 2;
    const int cy = (newClient.top() + newClient.top() + newClient.height()) / 2;
    if (newClient.width() != oldClient.width()) {
        e.bRight = pointer.x() >= cx;
        e.bLeft = !e.bRight;
    }
    if (newClient.height() != oldClient.height()) {
        e.bTop = pointer.y() < cy;
        e.bBottom = !e.bTop;
    }
    return e;
}

Record MakeRecord(int nId, int left, int right, int top, int bottom, int options, double fxPos,
                  double fxSize, double fyPos, double fySize, const QRect& rect,
                  const QSize& client)
{
    Record r;
    r.nId = nId;
    r.nLeft = left & 15;
    r.nRight = right & 15;
    r.nTop = top & 15;
    r.nBottom = bottom & 15;
    r.bExcludeFromErase = options & 1;
    r.bRepaintOnMove = options & 2;
    r.rect = rect;
    r.fxPos = fxPos;
    r.fxSize = fxSize;
    r.fyPos = fyPos;
    r.fySize = fySize;
    // right/bottom as exclusive edges, as the client coordinates of the dialog count them
    const double l = rect.left(), rt = rect.left() + rect.width();
    const double t = rect.top(), b = rect.top() + rect.height();
    if ((r.nLeft == Centre || r.nLeft == Scale || r.nRight == Centre || r.nRight == Scale) &&
        client.width() > 0)
        r.fxPos = (l + rt) * 0.5 / client.width();
    if ((r.nTop == Centre || r.nTop == Scale || r.nBottom == Centre || r.nBottom == Scale) &&
        client.height() > 0)
        r.fyPos = (t + b) * 0.5 / client.height();
    return r;
}

Outcome Layout(const Record& r, const Edges& edges, const QSize& client, const QSize& initial,
               const QSize& delta, const QRect& present)
{
    const int hRule = (edges.bLeft && r.nLeft != 0)     ? r.nLeft
                      : (edges.bRight && r.nRight != 0) ? r.nRight
                                                        : 0;
    const int vRule = (edges.bTop && r.nTop != 0)         ? r.nTop
                      : (edges.bBottom && r.nBottom != 0) ? r.nBottom
                                                          : 0;
    int l = 0, rr = 0, t = 0, b = 0;
    Apply(hRule, r.rect.left(), r.rect.left() + r.rect.width(), client.width(), initial.width(),
          delta.width(), r.fxPos, r.fxSize, &l, &rr);
    Apply(vRule, r.rect.top(), r.rect.top() + r.rect.height(), client.height(), initial.height(),
          delta.height(), r.fyPos, r.fySize, &t, &b);
    // A stay on an axis whose rules include scale or proportional keeps the present extent.
    const bool bSpecialH = hRule == Stay && (IsAbsolute(r.nLeft) || IsAbsolute(r.nRight));
    const bool bSpecialV = vRule == Stay && (IsAbsolute(r.nTop) || IsAbsolute(r.nBottom));
    if (bSpecialH) {
        l = present.left();
        rr = present.left() + present.width();
    }
    if (bSpecialV) {
        t = present.top();
        b = present.top() + present.height();
    }
    Outcome o;
    o.rect = QRect(l, t, rr - l, b - t);
    o.bStore = !IsAbsolute(hRule) && !IsAbsolute(vRule) && !bSpecialH && !bSpecialV;
    o.bMove = o.rect != (o.bStore ? r.rect : present);
    return o;
}

} // namespace resize
