#include "LoginUi.h"

#include "app/Prompter.h"

#include <qt6keychain/keychain.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <any>
#include <chrono>
#include <condition_variable>

// A reply from the GUI thread to a waiting worker.
struct LoginUi::Wait
{
    std::mutex mutex;
    std::condition_variable cv;
    bool bDone = false;
    bool bAbandoned = false;
    std::any value; // empty: no answer

    void Reply(std::any v)
    {
        std::lock_guard lock(mutex);
        if (bDone)
            return;
        bDone = true;
        value = std::move(v);
        cv.notify_all();
    }
    bool Abandoned()
    {
        std::lock_guard lock(mutex);
        return bAbandoned;
    }
};

LoginUi::LoginUi(Prompter& prompter, std::function<void(const QString&)> fnStatus)
    : m_prompter(prompter), m_fnStatus(std::move(fnStatus))
{}

LoginUi::~LoginUi() = default;

void LoginUi::Detach()
{
    std::lock_guard lock(m_mutex);
    m_bDetached = true;
    m_fnStatus = nullptr;
}

QString LoginUi::Key(const QString& server)
{
    return QStringLiteral("smb://%1").arg(server.toUpper());
}

template <typename T>
std::optional<T> LoginUi::OnGui(const std::function<void(std::shared_ptr<Wait>)>& fn,
                                const CancelToken& cancel)
{
    {
        std::lock_guard lock(m_mutex);
        // The GUI thread cannot wait for itself.
        if (m_bDetached || QThread::currentThread() == thread())
            return std::nullopt;
    }
    auto wait = std::make_shared<Wait>();
    QMetaObject::invokeMethod(
        this, [fn, wait] { fn(wait); }, Qt::QueuedConnection);
    std::unique_lock lock(wait->mutex);
    while (!wait->bDone) {
        if (cancel.Cancelled())
            break;
        {
            std::lock_guard detachLock(m_mutex);
            if (m_bDetached)
                break;
        }
        wait->cv.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (!wait->bDone) {
        wait->bAbandoned = true;
        return std::nullopt;
    }
    if (!wait->value.has_value())
        return std::nullopt;
    return std::any_cast<T>(wait->value);
}

std::atomic<int> LoginUi::s_nJobsRunning{0};

void LoginUi::StartJob(QKeychain::Job* job)
{
    // The store's library answers a job through a callback that holds the job itself: a job
    // deleted before its answer makes that callback write into freed memory. So a job has no
    // parent that could take it along, and it deletes itself once it has finished, whether
    // anyone still waits for it or not.
    job->setAutoDelete(true);
    ++s_nJobsRunning;
    connect(job, &QKeychain::Job::finished, job, [] { --s_nJobsRunning; });
    job->start();
}

void LoginUi::NoSecretStore(const QString& why)
{
    if (m_bNoStore)
        return;
    m_bNoStore = true;
    if (m_fnStatus)
        m_fnStatus(tr("No secret store (%1): passwords are kept for this session only").arg(why));
}

void LoginUi::StartLoad(const QString& server, std::shared_ptr<Wait> wait)
{
    if (m_bNoStore) {
        wait->Reply({});
        return;
    }
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
    job->setKey(Key(server));
    auto bOver = std::make_shared<bool>(false);
    connect(job, &QKeychain::Job::finished, this, [this, job, wait, bOver] {
        if (*bOver)
            return;
        *bOver = true;
        if (job->error() == QKeychain::NoError) {
            const QJsonObject o = QJsonDocument::fromJson(job->textData().toUtf8()).object();
            smb::Credentials c = smb::Logins::Parse(o.value(QLatin1String("user")).toString(),
                                                    o.value(QLatin1String("password")).toString());
            wait->Reply(c);
            return;
        }
        if (job->error() != QKeychain::EntryNotFound)
            NoSecretStore(job->errorString());
        wait->Reply({});
    });
    QTimer::singleShot(kMsSecretStore, this, [this, wait, bOver] {
        if (*bOver)
            return;
        *bOver = true;
        NoSecretStore(tr("no answer"));
        wait->Reply({});
    });
    StartJob(job);
}

std::optional<smb::Credentials> LoginUi::LoadSaved(const QString& server, const CancelToken& cancel)
{
    return OnGui<smb::Credentials>(
        [this, server](std::shared_ptr<Wait> w) { StartLoad(server, w); }, cancel);
}

void LoginUi::Save(const QString& server, const smb::Credentials& login)
{
    // Nobody waits for a save: the GUI thread writes it when it gets there.
    QMetaObject::invokeMethod(
        this,
        [this, server, login] {
            if (m_bNoStore)
                return;
            QJsonObject o;
            o.insert(QLatin1String("user"), smb::Logins::UserText(login));
            o.insert(QLatin1String("password"), login.strPassword);
            auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService));
            job->setKey(Key(server));
            job->setTextData(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
            auto bOver = std::make_shared<bool>(false);
            connect(job, &QKeychain::Job::finished, this, [this, job, bOver] {
                if (*bOver)
                    return;
                *bOver = true;
                if (job->error() != QKeychain::NoError)
                    NoSecretStore(job->errorString());
            });
            QTimer::singleShot(kMsSecretStore, this, [this, bOver] {
                if (*bOver)
                    return;
                *bOver = true;
                NoSecretStore(tr("no answer"));
            });
            StartJob(job);
        },
        Qt::QueuedConnection);
}

std::optional<smb::Logins::Typed> LoginUi::Ask(const QString& server, const QString& reason,
                                               const QString& strLastUser,
                                               const CancelToken& cancel)
{
    return OnGui<smb::Logins::Typed>(
        [this, server, reason, strLastUser](std::shared_ptr<Wait> w) {
            if (w->Abandoned())
                return w->Reply({});
            smb::Logins::Typed typed;
            const bool bOk = m_prompter.AskLogin(server, reason, strLastUser, &typed,
                                                 [w] { return w->Abandoned(); });
            if (bOk)
                w->Reply(typed);
            else
                w->Reply({});
        },
        cancel);
}
