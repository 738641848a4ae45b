#include "StatusQueue.h"

bool StatusQueue::Append(const QString& text)
{
    std::lock_guard lock(m_mutex);
    const bool bWasEmpty = m_texts.isEmpty();
    m_texts.append(text);
    return bWasEmpty;
}

QStringList StatusQueue::TakeAll()
{
    QStringList out;
    std::lock_guard lock(m_mutex);
    out.swap(m_texts);
    return out;
}

bool StatusQueue::IsEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_texts.isEmpty();
}
