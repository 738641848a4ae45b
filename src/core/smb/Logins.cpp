#include "Logins.h"

#include "smb/HelperProtocol.h"
#include "smb/SmbUrl.h"

#include <QFileInfo>

#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace smb {

namespace {
// A person gets a few tries per server and search, never one question per file.
constexpr int kMaxQuestions = 3;
// How long requests wait for the first try of a password before they try it themselves (a
// helper that died while trying must not hold the others for good).
constexpr std::chrono::seconds kProofWait(20);
} // namespace

std::shared_ptr<Logins> Logins::Instance()
{
    static std::shared_ptr<Logins> s_logins = std::make_shared<Logins>();
    return s_logins;
}

void Logins::Install()
{
    std::weak_ptr<Logins> weak = Instance();
    HelperPool::Instance()->SetCredentials(
        [weak](const AuthQuestion& q, const CancelToken& cancel) {
            if (const auto logins = weak.lock())
                return logins->Answer(q, cancel);
            AuthReply reply;
            reply.bGiveUp = q.bRefused;
            return reply;
        });
    HelperPool::Instance()->SetLoginOutcome(
        [weak](const QString& server) {
            const auto logins = weak.lock();
            return logins && logins->IsRefused(server);
        },
        [weak](const QString& server, bool bLoginOk) {
            if (const auto logins = weak.lock())
                logins->NoteOutcome(server, bLoginOk);
        });
}

void Logins::SetUi(std::shared_ptr<Ui> ui)
{
    std::lock_guard lock(m_mutex);
    m_ui = std::move(ui);
}

void Logins::SetFixed(std::optional<Credentials> login)
{
    std::lock_guard lock(m_mutex);
    m_fixed = std::move(login);
    m_servers.clear();
}

void Logins::AllowFixed(const QString& server)
{
    std::lock_guard lock(m_mutex);
    m_fixedServers.insert(server.toUpper());
}

void Logins::SetNote(std::function<void(const QString&)> fnNote)
{
    std::lock_guard lock(m_mutex);
    m_fnNote = std::move(fnNote);
}

void Logins::SetKerberos(bool bTry)
{
    std::lock_guard lock(m_mutex);
    m_bKerberos = bTry;
}

void Logins::NewSearch()
{
    std::lock_guard lock(m_mutex);
    ++m_nSearch;
}

void Logins::Reset()
{
    std::lock_guard lock(m_mutex);
    m_servers.clear();
}

Credentials Logins::Parse(const QString& strUser, const QString& strPassword)
{
    Credentials c;
    QString user = strUser.trimmed();
    const qsizetype slash = user.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        c.strWorkgroup = user.left(slash);
        user = user.mid(slash + 1);
    }
    if (user.compare(QLatin1String("guest"), Qt::CaseInsensitive) == 0 && strPassword.isEmpty())
        return {};
    c.strUser = user;
    c.strPassword = strPassword;
    return c;
}

QString Logins::UserText(const Credentials& login)
{
    if (login.strUser.isEmpty())
        return QStringLiteral("guest");
    if (login.strWorkgroup.isEmpty())
        return login.strUser;
    return login.strWorkgroup + QLatin1Char('\\') + login.strUser;
}

bool Logins::HasKerberosTicket()
{
    QString cache = qEnvironmentVariable("KRB5CCNAME");
    if (cache.isEmpty())
        cache = QStringLiteral("/tmp/krb5cc_%1").arg(::getuid());
    // FILE:/path or a plain path; other cache types (KEYRING:, KCM:) are taken as present.
    if (cache.startsWith(QLatin1String("FILE:")))
        cache = cache.mid(5);
    else if (!cache.startsWith(QLatin1Char('/')))
        return true;
    return QFileInfo(cache).isFile();
}

AuthReply Logins::Reply(const Server& s, bool bGiveUp) const
{
    AuthReply r;
    r.login = s.login;
    r.nGen = s.nGen;
    r.bGiveUp = bGiveUp;
    return r;
}

QString Logins::Reason(const AuthQuestion& q, const Server& s) const
{
    QString why = ReasonOnly(q, s);
    // A name only an announcement placed: say where the password goes.
    const QString address = ResolveHost(q.strServer);
    if (address.compare(q.strServer, Qt::CaseInsensitive) != 0)
        why += QStringLiteral(" The login goes to %1, the address announced on the network for "
                              "\\\\%2.")
                   .arg(address, q.strServer);
    return why;
}

QString Logins::ReasonOnly(const AuthQuestion& q, const Server& s) const
{
    const QString user = UserText(s.login);
    if (q.nKind == smbproto::kRefusedShare && s.login.strUser.isEmpty())
        return QStringLiteral("\\\\%1\\%2 is not open to guests.").arg(q.strServer, q.strShare);
    if (q.nKind == smbproto::kRefusedShare)
        return QStringLiteral("%1 may not open \\\\%2\\%3.").arg(user, q.strServer, q.strShare);
    if (s.login.strUser.isEmpty())
        return QStringLiteral("\\\\%1 does not accept guests.").arg(q.strServer);
    return QStringLiteral("The login of %1 failed: unknown user name or bad password.").arg(user);
}

void Logins::UseTyped(const QString& server, const Typed& typed)
{
    std::shared_ptr<Ui> ui;
    Credentials login = Parse(typed.strUser, typed.strPassword);
    {
        std::lock_guard lock(m_mutex);
        if (m_fixed)
            return;
        Server& s = m_servers[server.toUpper()];
        s.bInit = true;
        ++s.nGen;
        s.stage = Stage::Typed;
        s.login = login;
        s.bProven = false;
        s.nProving = 0;
        s.nRefusedIn = 0;
        s.nDeclinedIn = 0;
        ui = m_ui;
        m_changed.notify_all();
    }
    if (typed.bRemember && ui)
        ui->Save(server, login);
}

AuthReply Logins::Answer(const AuthQuestion& q, const CancelToken& cancel)
{
    const QString key = q.strServer.toUpper();
    std::unique_lock lock(m_mutex);
    auto waitTurn = [&]() -> bool {
        while (m_servers[key].bBusy) {
            if (cancel.Cancelled())
                return false;
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        return true;
    };
    if (!waitTurn()) {
        AuthReply r;
        r.bGiveUp = true;
        return r;
    }
    if (!m_servers[key].bInit) {
        const bool bKerberos = m_bKerberos.value_or(HasKerberosTicket());
        std::optional<Credentials> saved;
        const std::shared_ptr<Ui> ui = m_ui;
        if (!m_fixed && ui) {
            m_servers[key].bBusy = true;
            lock.unlock();
            saved = ui->LoadSaved(q.strServer, cancel);
            lock.lock();
            m_servers[key].bBusy = false;
            m_changed.notify_all();
            // Cut short: the next request reads the store again.
            if (cancel.Cancelled()) {
                AuthReply r;
                r.bGiveUp = true;
                return r;
            }
        }
        Server& s = m_servers[key];
        s.bInit = true;
        s.saved = saved;
        s.nGen = 1;
        if (m_fixed) {
            s.stage = Stage::Fixed;
            s.login = *m_fixed;
            // Only an announcement knows where this server is (the login goes to the address
            // it announced, which is what the helper names): the password stays here unless
            // the person named the server or the address.
            const QStringList announced = RememberedAddress(q.strServer).isEmpty()
                                              ? NamesAnnouncedAt(q.strServer)
                                              : QStringList{key};
            const bool bNamed =
                m_fixedServers.count(key) ||
                std::any_of(announced.begin(), announced.end(),
                            [this](const QString& name) { return m_fixedServers.count(name); });
            if (!m_fixed->strUser.isEmpty() && !announced.isEmpty() && !bNamed) {
                s.login = Credentials{};
                if (m_fnNote)
                    m_fnNote(QStringLiteral("\\\\%1 is known only from an announcement on the "
                                            "network (at %2): it gets no --user login unless it "
                                            "is named on the command line")
                                 .arg(announced.front(), ResolveHost(announced.front())));
            }
        } else if (bKerberos) {
            s.stage = Stage::Kerberos;
            s.login = Credentials{};
            s.login.bKerberos = true;
        } else if (saved) {
            s.stage = Stage::Saved;
            s.login = *saved;
        } else {
            s.stage = Stage::Guest;
            s.login = Credentials{};
        }
    }
    if (!q.bRefused) {
        if (m_servers[key].nRefusedIn == m_nSearch)
            return Reply(m_servers[key], true); // refused in this search: not tried again
        if (!WaitForProof(lock, key, cancel)) {
            AuthReply r;
            r.bGiveUp = true;
            return r;
        }
        Server& s = m_servers[key];
        if (s.nRefusedIn == m_nSearch)
            return Reply(s, true);
        if (!s.bProven && !s.login.strPassword.isEmpty() && s.nProving == 0) {
            s.nProving = s.nGen;
            s.provingSince = std::chrono::steady_clock::now();
        }
        return Reply(s);
    }
    Server& s = m_servers[key];
    if (q.nGen == s.nProving) {
        s.nProving = 0;
        m_changed.notify_all();
    }
    if (q.nKind == smbproto::kRefusedShare && q.nGen == s.nGen)
        s.bProven = true; // the server took the login; one share did not
    if (q.nGen != s.nGen)
        return Reply(s); // another request already moved on to a newer login
    auto giveUp = [&](Server& t) {
        if (q.nKind == smbproto::kRefusedLogin)
            t.nRefusedIn = m_nSearch;
        m_changed.notify_all();
        return Reply(t, true);
    };
    switch (s.stage) {
    case Stage::Kerberos:
        // Without anybody to ask (the command line) a refused ticket is an error, never a
        // quiet guest login.
        if (!m_ui)
            return giveUp(s);
        ++s.nGen;
        s.stage = s.saved ? Stage::Saved : Stage::Guest;
        s.login = s.saved.value_or(Credentials{});
        s.bProven = false;
        return Reply(s);
    case Stage::Fixed:
        return giveUp(s);
    default:
        break;
    }
    const std::shared_ptr<Ui> ui = m_ui;
    if (!ui || s.nDeclinedIn == m_nSearch)
        return giveUp(s);
    // A share list that may not ask (Discover, a scan): it fails alone; the search's own
    // requests to that server still get their question.
    if (!q.bMayAsk)
        return Reply(s, true);
    if (s.nAskedIn != m_nSearch) {
        s.nAskedIn = m_nSearch;
        s.nAsked = 0;
    }
    if (s.nAsked >= kMaxQuestions)
        return giveUp(s);
    ++s.nAsked;
    const QString reason = Reason(q, s);
    const QString last = s.login.strUser.isEmpty() ? QString() : UserText(s.login);
    const quint64 nSearch = m_nSearch;
    s.bBusy = true;
    lock.unlock();
    const std::optional<Typed> typed = ui->Ask(q.strServer, reason, last, cancel);
    lock.lock();
    Server& t = m_servers[key];
    t.bBusy = false;
    m_changed.notify_all();
    if (!typed) {
        if (!cancel.Cancelled())
            t.nDeclinedIn = nSearch;
        return giveUp(t);
    }
    ++t.nGen;
    t.bProven = false;
    t.nProving = 0;
    t.stage = Stage::Typed;
    t.login = Parse(typed->strUser, typed->strPassword);
    const AuthReply reply = Reply(t);
    lock.unlock();
    if (typed->bRemember)
        ui->Save(q.strServer, reply.login);
    return reply;
}

bool Logins::WaitForProof(std::unique_lock<std::mutex>& lock, const QString& key,
                          const CancelToken& cancel)
{
    for (;;) {
        Server& s = m_servers[key];
        if (s.bProven || s.nProving == 0 || s.nProving != s.nGen || s.nRefusedIn == m_nSearch)
            return true;
        if (std::chrono::steady_clock::now() - s.provingSince > kProofWait) {
            s.nProving = 0; // its request is gone: this one tries
            return true;
        }
        if (cancel.Cancelled())
            return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
}

void Logins::NoteOutcome(const QString& server, bool bLoginOk)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_servers.find(server.toUpper());
    if (it == m_servers.end() || it->second.nProving == 0)
        return;
    if (bLoginOk)
        it->second.bProven = true;
    it->second.nProving = 0;
    m_changed.notify_all();
}

bool Logins::IsRefused(const QString& server) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_servers.find(server.toUpper());
    return it != m_servers.end() && it->second.nRefusedIn == m_nSearch;
}

} // namespace smb
