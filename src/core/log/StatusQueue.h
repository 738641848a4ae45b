#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

// First-in first-out list of status texts waiting for the GUI thread.
//
// Any thread appends; one thread (the GUI's) drains. The lock is held only for the list
// operation itself, so a producer never waits for painting.
class StatusQueue
{
public:
    // Appends a copy of text. Returns true when the queue was empty before, that is, when
    // nobody has been told yet that there is something to drain.
    bool Append(const QString& text);
    // Moves every queued text out, oldest first; the queue is left empty.
    QStringList TakeAll();
    bool IsEmpty() const;

private:
    mutable std::mutex m_mutex;
    QStringList m_texts;
};
