#pragma once

#include "smb/HelperPool.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace smb {

// Which user the program connects to each server as.
//
// Order per server: the Kerberos ticket in the user's credential cache (when there is one),
// then remembered credentials (else guest); when the server or a share refuses, the person is
// asked ("Connect to \\SERVER") at most once per server and search, and a login typed there
// holds for the rest of the session. A program with fixed credentials (the CLI's --user or
// --guest) uses those alone. A refused login never quietly becomes a guest's.
//
// Any thread asks (the pool calls Answer on the thread whose request met the question); the
// lock is never held while the person or the secret store is asked. One question per server
// runs at a time: the others wait for its answer, watching their cancel function.
class Logins
{
public:
    struct Typed
    {
        QString strUser; // DOMAIN\user, or user
        QString strPassword;
        bool bRemember = false;
    };
    // What the program asks the person and the secret store. Called on worker threads; each
    // call returns within its own bound or soon after cancel() turns true.
    class Ui
    {
    public:
        virtual ~Ui() = default;
        virtual std::optional<Credentials> LoadSaved(const QString& server,
                                                     const CancelToken& cancel) = 0;
        virtual void Save(const QString& server, const Credentials& login) = 0; // returns at once
        virtual std::optional<Typed> Ask(const QString& server, const QString& reason,
                                         const QString& strLastUser, const CancelToken& cancel) = 0;
    };

    // The process's logins; Install makes the helper pool ask them.
    static std::shared_ptr<Logins> Instance();
    static void Install();

    void SetUi(std::shared_ptr<Ui> ui);
    // These for every server and nothing else (the CLI's options); nullopt: the normal order.
    void SetFixed(std::optional<Credentials> login);
    // The fixed login goes to servers named here (on the command line, in a tree file) and to
    // names a name service knows; a name that only an announcement placed (anyone on the LAN
    // may announce one) gets a guest login instead, with a note.
    void AllowFixed(const QString& server);
    // Where such notes go (any thread).
    void SetNote(std::function<void(const QString&)> fnNote);
    // Whether to try the Kerberos ticket first (default: when a credential cache exists).
    void SetKerberos(bool bTry);
    // A new search: servers the person declined may be asked about again.
    void NewSearch();
    // Forgets every server's state (tests, and a new fixed login).
    void Reset();

    // A login the person typed for server of their own accord ("Connect as..."): it is the
    // server's login from now on, as if typed in answer to a question (and saved when asked to).
    void UseTyped(const QString& server, const Typed& typed);

    AuthReply Answer(const AuthQuestion& q, const CancelToken& cancel);
    // A request to server ended: bLoginOk when its login was not refused (then requests that
    // wait for a password's first try go on).
    void NoteOutcome(const QString& server, bool bLoginOk);
    // The login of server was refused and given up in this search (or command): no request
    // tries it again until the next search, so a wrong password costs one refusal, not one per
    // share and helper.
    bool IsRefused(const QString& server) const;

    // "DOMAIN\user" or "user@REALM" or "user"; "guest" without a password is an anonymous
    // logon (the library refuses a named guest with no password).
    static Credentials Parse(const QString& strUser, const QString& strPassword);
    // DOMAIN\user for showing a login.
    static QString UserText(const Credentials& login);
    static bool HasKerberosTicket();

private:
    enum class Stage
    {
        Kerberos,
        Saved,
        Guest,
        Typed,
        Fixed
    };
    struct Server
    {
        bool bInit = false;
        bool bBusy = false; // a question about it is running (secret store, person)
        Stage stage = Stage::Guest;
        Credentials login;
        std::optional<Credentials> saved;
        quint64 nGen = 0;
        quint64 nDeclinedIn = 0; // the search in which the person declined, 0 none
        quint64 nAskedIn = 0;
        int nAsked = 0;         // questions in that search
        quint64 nRefusedIn = 0; // the search in which its login was refused and given up
        // A password not yet known to work is tried by one request at a time: the others wait
        // for its outcome (bounded), so a wrong one is refused once, not once per helper.
        bool bProven = false;
        quint64 nProving = 0; // generation being tried, 0 none
        std::chrono::steady_clock::time_point provingSince;
    };
    // The first try of a password: one request at a time (Answer's lock held).
    bool WaitForProof(std::unique_lock<std::mutex>& lock, const QString& key,
                      const CancelToken& cancel);
    AuthReply Reply(const Server& s, bool bGiveUp = false) const;
    QString Reason(const AuthQuestion& q, const Server& s) const;
    QString ReasonOnly(const AuthQuestion& q, const Server& s) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<QString, Server> m_servers; // by server name, upper case
    std::shared_ptr<Ui> m_ui;
    std::optional<Credentials> m_fixed;
    std::set<QString> m_fixedServers; // upper case
    std::function<void(const QString&)> m_fnNote;
    std::optional<bool> m_bKerberos;
    quint64 m_nSearch = 1;
};

} // namespace smb
