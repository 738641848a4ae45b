#include "smb/HelperProtocol.h"
#include "smb/Logins.h"
#include "smb/SmbUrl.h"

#include <QtTest>

#include <atomic>
#include <thread>

using smb::AuthQuestion;
using smb::Credentials;
using smb::Logins;

// The order of logins per server, and how refusals move along it.
class TestLogins : public QObject
{
    Q_OBJECT

    struct FakeUi : Logins::Ui
    {
        std::optional<Credentials> saved;
        std::vector<std::optional<Logins::Typed>> answers; // taken in turn
        std::atomic<int> nAsked{0};
        std::atomic<int> nLoads{0};
        QStringList reasons;
        std::vector<Credentials> savedNow;
        int msAsk = 0;
        std::mutex mutex;

        std::optional<Credentials> LoadSaved(const QString&, const CancelToken&) override
        {
            ++nLoads;
            return saved;
        }
        void Save(const QString&, const Credentials& c) override
        {
            std::lock_guard lock(mutex);
            savedNow.push_back(c);
        }
        std::optional<Logins::Typed> Ask(const QString&, const QString& reason, const QString&,
                                         const CancelToken&) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(msAsk));
            std::lock_guard lock(mutex);
            reasons << reason;
            const int n = nAsked++;
            return n < int(answers.size()) ? answers[std::size_t(n)] : std::nullopt;
        }
    };

    static AuthQuestion Ask(const QString& share = "private")
    {
        return {"ALPHA", share, false, 0, 0};
    }
    static AuthQuestion Refused(quint64 nGen, quint64 nKind = smbproto::kRefusedShare,
                                const QString& share = "private")
    {
        // As the pool asks: a share list may ask only when the person started it.
        return {"ALPHA", share, true, nGen, nKind, !share.isEmpty()};
    }

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("workgroup");
        QTest::addColumn<QString>("name");
        QTest::newRow("domain") << "LAB\\ann"
                                << "pw"
                                << "LAB"
                                << "ann";
        QTest::newRow("plain") << " ann "
                               << "pw"
                               << ""
                               << "ann";
        QTest::newRow("principal") << "ann@LAB.EXAMPLE"
                                   << "pw"
                                   << ""
                                   << "ann@LAB.EXAMPLE";
        // The library refuses a named guest without a password: that is an anonymous logon.
        QTest::newRow("guest") << "Guest"
                               << ""
                               << ""
                               << "";
        QTest::newRow("guest with password") << "guest"
                                             << "pw"
                                             << ""
                                             << "guest";
    }
    void parse()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, workgroup);
        QFETCH(QString, name);
        const Credentials c = Logins::Parse(user, password);
        QCOMPARE(c.strWorkgroup, workgroup);
        QCOMPARE(c.strUser, name);
    }

    // Kerberos first, then what was remembered; a refused remembered login is asked about,
    // never replaced by guest.
    void order()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->saved = Credentials{"LAB", "ann", "old", false};
        ui->answers = {Logins::Typed{"LAB\\ann", "new", true}};
        l.SetUi(ui);
        l.SetKerberos(true);
        auto r = l.Answer(Ask(), {});
        QVERIFY(r.login.bKerberos);
        r = l.Answer(Refused(r.nGen, smbproto::kRefusedLogin), {});
        QCOMPARE(r.login.strPassword, QString("old"));
        QVERIFY(!r.bGiveUp);
        r = l.Answer(Refused(r.nGen, smbproto::kRefusedLogin), {});
        QCOMPARE(ui->nAsked.load(), 1);
        QCOMPARE(ui->reasons.front(),
                 QString("The login of LAB\\ann failed: unknown user name or bad password."));
        QCOMPARE(r.login.strPassword, QString("new"));
        QCOMPARE(ui->savedNow.size(), std::size_t(1));
        QCOMPARE(ui->nLoads.load(), 1);
    }

    // A server only an announcement placed: the question says where the login goes.
    void questionNamesAnAnnouncedAddress()
    {
        const QString name = QString("ANNOUNCEDLOGIN%1").arg(QCoreApplication::applicationPid());
        QCOMPARE(smb::RememberHostAddress(name, "10.9.7.5"), smb::Remembered::Yes);
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        l.SetUi(ui);
        l.SetKerberos(false);
        const AuthQuestion first{name, "docs", false, 0, 0};
        const auto r = l.Answer(first, {});
        l.Answer({name, "docs", true, r.nGen, smbproto::kRefusedShare}, {});
        QCOMPARE(ui->nAsked.load(), 1);
        QVERIFY2(ui->reasons.front().endsWith("The login goes to 10.9.7.5, the address announced "
                                              "on the network for \\\\" +
                                              name + "."),
                 qPrintable(ui->reasons.front()));
        // A name the network resolves itself is asked about as before.
        Logins plain;
        auto ui2 = std::make_shared<FakeUi>();
        plain.SetUi(ui2);
        plain.SetKerberos(false);
        const auto r2 = plain.Answer(Ask(), {});
        plain.Answer(Refused(r2.nGen), {});
        QVERIFY(!ui2->reasons.front().contains("announced"));
    }

    // Without anybody to ask (the command line), a refused Kerberos ticket is an error: never
    // a guest login in its place.
    void refusedTicketWithoutUiGivesUp()
    {
        Logins l;
        l.SetKerberos(true);
        const auto r = l.Answer(Ask(), {});
        QVERIFY(r.login.bKerberos);
        const auto after = l.Answer(Refused(r.nGen, smbproto::kRefusedLogin), {});
        QVERIFY(after.bGiveUp);
        QVERIFY(l.IsRefused("alpha"));
        // Later requests to that server are not tried at all in this command.
        QVERIFY(l.Answer(Ask("docs"), {}).bGiveUp);
    }

    // A refused fixed login is given up for the server until the next search; a share's
    // refusal (the login itself holds) is not.
    void refusedOnceNotTriedAgain()
    {
        Logins l;
        l.SetFixed(Credentials{"", "bcuser", "wrong", false});
        auto r = l.Answer(Ask("docs"), {});
        QVERIFY(l.Answer(Refused(r.nGen, smbproto::kRefusedShare, "docs"), {}).bGiveUp);
        QVERIFY(!l.IsRefused("ALPHA"));
        QVERIFY(!l.Answer(Ask("music"), {}).bGiveUp);
        QVERIFY(l.Answer(Refused(r.nGen, smbproto::kRefusedLogin, "music"), {}).bGiveUp);
        QVERIFY(l.IsRefused("ALPHA"));
        QVERIFY(l.Answer(Ask("private"), {}).bGiveUp);
        l.NewSearch();
        QVERIFY(!l.IsRefused("ALPHA"));
        QVERIFY(!l.Answer(Ask("private"), {}).bGiveUp);
    }

    // The share list of a server the person searches (it lists its shares only to users)
    // may ask: one question, and the typed login lists it.
    void searchedServersShareListAsks()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->answers = {Logins::Typed{"bcuser", "pw", false}};
        l.SetUi(ui);
        l.SetKerberos(false);
        const auto guest = l.Answer(Ask(""), {});
        AuthQuestion q = Refused(guest.nGen, smbproto::kRefusedLogin, QString());
        q.bMayAsk = true;
        const auto typed = l.Answer(q, {});
        QVERIFY(!typed.bGiveUp);
        QCOMPARE(typed.login.strUser, QString("bcuser"));
        QCOMPARE(ui->nAsked.load(), 1);
    }

    // A fixed login (the CLI's --user) is not sent to a name that only an announcement placed,
    // unless the person named that server; it gets a guest login and a note.
    void fixedLoginNotSentToAnnouncedNames()
    {
        const QString announced = QString("PHANTOM%1").arg(QCoreApplication::applicationPid());
        const QString named = announced + "-NAMED";
        QCOMPARE(smb::RememberHostAddress(announced, "10.9.7.1"), smb::Remembered::Yes);
        QCOMPARE(smb::RememberHostAddress(named, "10.9.7.2"), smb::Remembered::Yes);
        Logins l;
        l.SetFixed(Logins::Parse("bcuser", "pw"));
        l.AllowFixed(named.toLower());
        QStringList notes;
        l.SetNote([&](const QString& note) { notes << note; });
        auto ask = [&](const QString& server) {
            return l.Answer({server, "docs", false, 0, 0, true}, {});
        };
        QCOMPARE(ask(announced).login.strUser, QString());
        QCOMPARE(ask(announced).login.strPassword, QString());
        QCOMPARE(ask(named).login.strUser, QString("bcuser"));
        // The helper names the address a path of such a name goes to.
        QCOMPARE(ask("10.9.7.1").login.strPassword, QString());
        QCOMPARE(ask("10.9.7.2").login.strUser, QString("bcuser"));
        QCOMPARE(ask("ALPHA").login.strUser, QString("bcuser")); // not announced
        QCOMPARE(notes.size(), 2); // once per server as asked: the name, its address
        for (const QString& note : notes)
            QVERIFY2(note.contains(announced.toUpper()) && note.contains("10.9.7.1"),
                     qPrintable(note));
        // Refused as guest: an error, never a question or the password.
        const auto refused = l.Answer(
            {announced, "docs", true, ask(announced).nGen, smbproto::kRefusedLogin, true}, {});
        QVERIFY(refused.bGiveUp);
        QVERIFY(refused.login.strPassword.isEmpty());
    }

    // A share list that may not ask (Discover beside a search) gives up alone: the search's
    // own requests to that server still get their question.
    void shareListRefusalLeavesTheSearchItsQuestion()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->answers = {Logins::Typed{"bcuser", "pw", false}};
        l.SetUi(ui);
        l.SetKerberos(false);
        const auto r = l.Answer(Ask(""), {});
        QVERIFY(l.Answer(Refused(r.nGen, smbproto::kRefusedLogin, QString()), {}).bGiveUp);
        QVERIFY(!l.IsRefused("ALPHA"));
        const auto typed = l.Answer(Refused(r.nGen, smbproto::kRefusedLogin), {});
        QVERIFY(!typed.bGiveUp);
        QCOMPARE(typed.login.strUser, QString("bcuser"));
    }

    // A password not yet known to work is tried by one request at a time: the others wait for
    // its outcome, then go on (it worked) or give up (it was refused) without trying it.
    void passwordTriedByOneRequestFirst_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("it works") << false;
        QTest::newRow("it is refused") << true;
    }
    void passwordTriedByOneRequestFirst()
    {
        QFETCH(bool, refused);
        Logins l;
        l.SetFixed(Credentials{"", "bcuser", "pw", false});
        const auto first = l.Answer(Ask("docs"), {});
        QVERIFY(!first.bGiveUp);
        std::atomic<int> nAnswered{0};
        std::atomic<int> nGaveUp{0};
        std::vector<std::thread> others;
        for (int i = 0; i < 3; ++i)
            others.emplace_back([&] {
                nGaveUp += l.Answer(Ask("music"), {}).bGiveUp;
                ++nAnswered;
            });
        QTest::qWait(300);
        QCOMPARE(nAnswered.load(), 0); // they wait for the first try
        if (refused)
            l.Answer(Refused(first.nGen, smbproto::kRefusedLogin, "docs"), {});
        else
            l.NoteOutcome("alpha", true);
        for (std::thread& t : others)
            t.join();
        QCOMPARE(nGaveUp.load(), refused ? 3 : 0);
        // Once it worked, nobody waits.
        if (!refused)
            QVERIFY(!l.Answer(Ask("private"), {}).bGiveUp);
    }

    // A refusal of an older login gets the newer one without a question; share lists (no
    // share) are never asked about; the CLI's fixed login gives up at once.
    void noNeedlessQuestions()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->answers = {Logins::Typed{"bcuser", "pw", false}};
        l.SetUi(ui);
        l.SetKerberos(false);
        const quint64 nGuest = l.Answer(Ask(), {}).nGen;
        QVERIFY(l.Answer(Refused(nGuest, smbproto::kRefusedLogin, QString()), {}).bGiveUp);
        QCOMPARE(ui->nAsked.load(), 0);
        const auto typed = l.Answer(Refused(nGuest), {});
        QCOMPARE(typed.login.strUser, QString("bcuser"));
        const auto again = l.Answer(Refused(nGuest), {});
        QCOMPARE(again.nGen, typed.nGen);
        QVERIFY(!again.bGiveUp);
        QCOMPARE(ui->nAsked.load(), 1);

        Logins fixed;
        fixed.SetUi(ui);
        fixed.SetFixed(Credentials{"", "bcuser", "pw", false});
        const auto f = fixed.Answer(Ask(), {});
        QCOMPARE(f.login.strUser, QString("bcuser"));
        QVERIFY(fixed.Answer(Refused(f.nGen), {}).bGiveUp);
        QCOMPARE(ui->nAsked.load(), 1);
    }

    // Declined: not asked again in the same search, asked again in the next; at most three
    // questions per server and search.
    void declinedAndBounded()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        l.SetUi(ui);
        l.SetKerberos(false);
        const quint64 nGen = l.Answer(Ask(), {}).nGen;
        QVERIFY(l.Answer(Refused(nGen), {}).bGiveUp);
        QVERIFY(l.Answer(Refused(nGen), {}).bGiveUp);
        QCOMPARE(ui->nAsked.load(), 1);
        l.NewSearch();
        ui->answers = {std::nullopt, Logins::Typed{"a", "1", false}, Logins::Typed{"b", "2", false},
                       Logins::Typed{"c", "3", false}, Logins::Typed{"d", "4", false}};
        quint64 n = l.Answer(Refused(nGen), {}).nGen;
        for (int i = 0; i < 5; ++i)
            n = l.Answer(Refused(n), {}).nGen;
        QCOMPARE(ui->nAsked.load(), 4); // the declined one and three more in this search
    }

    // Eight requests refused at once: one question, and all eight get its answer.
    void oneQuestionForManyRequests()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->answers = {Logins::Typed{"bcuser", "pw", false}};
        ui->msAsk = 200;
        l.SetUi(ui);
        l.SetKerberos(false);
        const quint64 nGen = l.Answer(Ask(), {}).nGen;
        std::vector<std::thread> threads;
        std::atomic<int> nTyped{0};
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                if (l.Answer(Refused(nGen), {}).login.strUser == "bcuser")
                    ++nTyped;
            });
        for (auto& t : threads)
            t.join();
        QCOMPARE(ui->nAsked.load(), 1);
        QCOMPARE(nTyped.load(), 8);
    }

    // A request that is cancelled while another one's question is open stops waiting.
    void cancelWhileWaiting()
    {
        Logins l;
        auto ui = std::make_shared<FakeUi>();
        ui->answers = {Logins::Typed{"bcuser", "pw", false}};
        ui->msAsk = 2000;
        l.SetUi(ui);
        l.SetKerberos(false);
        const quint64 nGen = l.Answer(Ask(), {}).nGen;
        std::thread asker([&] { l.Answer(Refused(nGen), {}); });
        QTRY_VERIFY(ui->msAsk > 0 &&
                    l.Answer(Ask("docs"), CancelToken([] { return true; })).bGiveUp);
        QElapsedTimer t;
        t.start();
        QVERIFY(l.Answer(Refused(nGen), CancelToken([&] { return t.elapsed() > 100; })).bGiveUp);
        QVERIFY(t.elapsed() < 1500);
        asker.join();
    }
};

QTEST_MAIN(TestLogins)
#include "tst_logins.moc"
