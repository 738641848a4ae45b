#pragma once

#include <QRect>

// The arithmetic of a resizable dialog, with no widgets: how one control's rectangle follows
// the dialog's client area when an edge of the dialog moves.
namespace resize {

enum Rule : int
{
    Stay = 0,         // fixed distance from the left (top) edge
    Stretch = 1,      // fixed distances from both edges
    Move = 2,         // fixed distance from the right (bottom) edge
    Centre = 3,       // centred at a fraction of the width (height)
    Scale = 4,        // edges scaled with the width (height) since initialisation
    Proportional = 5, // moves and grows by shares of the change since initialisation
};

struct Record
{
    int nId = 0;
    int nLeft = Stay, nRight = Stay, nTop = Stay, nBottom = Stay; // 0..15
    bool bExcludeFromErase = false;
    bool bRepaintOnMove = false;
    QRect rect; // client coordinates; the last laid-out rectangle for rules 0 to 3
    double fxPos = -1, fxSize = -1, fyPos = -1, fySize = -1;
};

struct Edges
{
    bool bLeft = false, bRight = false, bTop = false, bBottom = false;
    bool Any() const { return bLeft || bRight || bTop || bBottom; }
};

// The edges that move, guessed from the pointer against the centre of the new client
// rectangle (screen coordinates): a width change moves the right edge when the pointer is at or
// right of the centre, else the left; a height change the top edge when the pointer is above
// the centre, else the bottom.
Edges GuessMovingEdges(const QRect& oldClient, const QRect& newClient, const QPoint& pointer);

// A record as it is added: centre and scale rules take the control's present centre as their
// position factor.
Record MakeRecord(int nId, int left, int right, int top, int bottom, int options, double fxPos,
                  double fxSize, double fyPos, double fySize, const QRect& rect,
                  const QSize& client);

struct Outcome
{
    QRect rect;          // where the control goes
    bool bStore = false; // the record keeps rect as its rectangle
    bool bMove = false;  // rect differs from where the control is
};

// Lays out one record. client and initial are the new and the initial client sizes, delta the
// change since the last layout, present the control's rectangle now.
Outcome Layout(const Record& r, const Edges& edges, const QSize& client, const QSize& initial,
               const QSize& delta, const QRect& present);

} // namespace resize
