#pragma once

#include <cerrno>

#include "network/LanBrowser.h"

#include <QHash>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

// A network made of tables, for tests of the discovery logic. A closed gate holds every call
// until it is opened (or the caller aborts), so tests can look at a running discovery.
class FakeLanBrowser : public LanBrowser
{
public:
    EnumResult domains;
    QHash<QString, EnumResult> servers;       // by domain; missing: no such server
    QHash<QString, QList<EnumResult>> shares; // by server: answers in turn (resume)
    QHash<QString, int> delayMs;              // by domain or server name
    std::atomic<int> nCalls{0};

    static EnumResult Ok(const QStringList& names)
    {
        return {NERR_Success, names, quint32(names.size()), {}, {}};
    }
    static EnumResult Failed(int err) { return EnumResult::Failed(Error::FromCode(err)); }
    static EnumResult Failed(ErrorKind kind) { return EnumResult::Failed(kind); }

    void CloseGate()
    {
        std::lock_guard lock(m_mutex);
        m_bOpen = false;
    }
    void OpenGate()
    {
        std::lock_guard lock(m_mutex);
        m_bOpen = true;
        m_opened.notify_all();
    }

    EnumResult EnumDomains(const std::atomic<bool>& abort) override
    {
        Pass(QString(), abort);
        return domains;
    }
    EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) override
    {
        Pass(domain, abort);
        return servers.value(domain, Failed(ENOENT));
    }
    EnumResult EnumShares(const QString& server, quint32& nResume,
                          const std::atomic<bool>& abort) override
    {
        Pass(server, abort);
        const QList<EnumResult> answers = shares.value(server);
        if (answers.isEmpty())
            return Failed(ENOENT);
        const quint32 i = std::min<quint32>(nResume, quint32(answers.size() - 1));
        nResume = i + 1;
        return answers[int(i)];
    }

private:
    void Pass(const QString& name, const std::atomic<bool>& abort)
    {
        ++nCalls;
        {
            std::unique_lock lock(m_mutex);
            while (!m_bOpen && !abort)
                m_opened.wait_for(lock, std::chrono::milliseconds(20));
        }
        const int ms = delayMs.value(name, 0);
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
    }
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_bOpen = true;
};
