#include "network/MdnsBrowser.h"
#include "network/NetbiosStatus.h"
#include "network/SmbLanBrowser.h"
#include "smb/LsaPdu.h"
#include "smb/SmbUrl.h"

#include <QtTest>

// Hosts that announce themselves (mDNS, WS-Discovery) and the two questions that find their
// workgroup: NetBIOS node status and the LSA query over \lsarpc. Answers as real servers send
// them (Samba's, captured) and as broken ones might.
class TestAnnounce : public QObject
{
    Q_OBJECT

    // A node status answer with these (name, type, group) entries.
    static QByteArray NodeStatus(quint16 nId, const QList<std::tuple<QByteArray, int, bool>>& names,
                                 bool bPointerName = false)
    {
        QByteArray a;
        a.append(char(nId >> 8)).append(char(nId & 0xff));
        a.append("\x84\x00\x00\x00\x00\x01\x00\x00\x00\x00", 10);
        if (bPointerName)
            a.append("\xc0\x0c", 2);
        else
            a.append(nbstat::StatusRequest(0).mid(12, 34));
        QByteArray data;
        data.append(char(names.size()));
        for (const auto& [name, type, bGroup] : names) {
            data.append(name.leftJustified(15, ' ', true));
            data.append(char(type));
            data.append(bGroup ? "\x84\x00" : "\x04\x00", 2);
        }
        data.append(QByteArray(46, '\0')); // statistics
        a.append("\x00\x21\x00\x01\x00\x00\x00\x00", 8);
        a.append(char(data.size() >> 8)).append(char(data.size() & 0xff));
        return a + data;
    }

private slots:
    void statusRequest()
    {
        const QByteArray q = nbstat::StatusRequest(0x1234);
        QCOMPARE(q.size(), 50);
        QCOMPARE(q.left(2), QByteArray("\x12\x34", 2));
        // "*" and fifteen NULs in first-level encoding, then NBSTAT / IN.
        QCOMPARE(q.mid(12, 4), QByteArray("\x20"
                                          "CK",
                                          3) +
                                   "A");
        QCOMPARE(q.right(4), QByteArray("\x00\x21\x00\x01", 4));
    }

    void nodeStatus_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("workgroup");
        using E = std::tuple<QByteArray, int, bool>;
        const QByteArray browse("\x01\x02__MSBROWSE__\x02", 15);
        QTest::newRow("workstation")
            << NodeStatus(7, {E{"ECHO", 0x00, false}, E{"ECHO", 0x20, false},
                              E{"MODERN", 0x00, true}, E{"MODERN", 0x1e, true}})
            << "MODERN";
        QTest::newRow("browse master first")
            << NodeStatus(7, {E{browse, 0x01, true}, E{"ECHO", 0x00, false}, E{"CORP", 0x00, true}})
            << "CORP";
        QTest::newRow("name as pointer")
            << NodeStatus(7, {E{"MODERN", 0x00, true}}, true) << "MODERN";
        QTest::newRow("no group") << NodeStatus(7, {E{"ECHO", 0x00, false}}) << "";
        QTest::newRow("group of another type") << NodeStatus(7, {E{"MODERN", 0x1c, true}}) << "";
        QTest::newRow("no names") << NodeStatus(7, {}) << "";
        QByteArray truncated = NodeStatus(7, {E{"ECHO", 0x00, false}, E{"MODERN", 0x00, true}});
        truncated.chop(46 + 10);
        QTest::newRow("truncated") << truncated << "";
        QByteArray error = NodeStatus(7, {E{"MODERN", 0x00, true}});
        error[3] = 0x03; // name error
        QTest::newRow("error code") << error << "";
        QTest::newRow("a question, not an answer") << nbstat::StatusRequest(7) << "";
        QTest::newRow("short") << QByteArray("\x00\x07\x84", 3) << "";
    }
    void nodeStatus()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, workgroup);
        quint16 nId = 0;
        QCOMPARE(nbstat::WorkgroupFromAnswer(answer, &nId), workgroup);
        if (answer.size() >= 12)
            QCOMPARE(nId, quint16(7));
    }

    // Nobody answers: bounded, nothing found; nonsense addresses are left out.
    void nodeStatusSilence()
    {
        QElapsedTimer t;
        t.start();
        const auto found = nbstat::Workgroups({"127.0.0.254", "not an address"}, 300, {});
        QVERIFY(found.empty());
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    void lsaRequests()
    {
        const QByteArray bind = lsa::BindPdu(1);
        QCOMPARE(bind.size(), 72);
        QCOMPARE(lsa::FragmentLength(bind), 72);
        QCOMPARE(int(quint8(bind[2])), 11);
        // The LSA interface's UUID as NDR puts it on the wire.
        QVERIFY(bind.contains(QByteArray::fromHex("785734123412cdabef000123456789ab")));
        const QByteArray open = lsa::OpenPolicyPdu(2);
        QCOMPARE(lsa::FragmentLength(open), open.size());
        QCOMPARE(open.mid(22, 2), QByteArray("\x06\x00", 2)); // OpenPolicy
        const QByteArray handle(20, 'h');
        const QByteArray query = lsa::QueryPrimaryDomainPdu(3, handle);
        QCOMPARE(query.mid(22, 2), QByteArray("\x07\x00", 2)); // QueryInformationPolicy
        QCOMPARE(query.mid(24, 20), handle);
        QCOMPARE(query.right(2), QByteArray("\x03\x00", 2)); // the primary domain
        QCOMPARE(lsa::FragmentLength(QByteArray(16, '\0')), 0);
    }

    // Samba's answers, as captured on the test network.
    void lsaAnswers()
    {
        const QByteArray bindAck = QByteArray::fromHex(
            "05000c03100000004400000001000000b810b810c9ec00000c005c706970655c6c736173730000000100"
            "000000000000045d888aeb1cc9119fe808002b10486002000000");
        QVERIFY(lsa::ParseBindAck(bindAck));
        QByteArray rejected = bindAck;
        rejected[44] = 2; // provider rejection
        QVERIFY(!lsa::ParseBindAck(rejected));
        QVERIFY(!lsa::ParseBindAck(bindAck.left(40)));
        QVERIFY(!lsa::ParseBindAck(QByteArray()));
        QString none;
        QVERIFY(!lsa::ParsePrimaryDomain(QByteArray(), &none));

        const QByteArray open = QByteArray::fromHex(
            "05000203100000003000000002000000180000000000000001000000f5967ee53efccc4aaeed94848084"
            "bfc700000000");
        QByteArray handle;
        QVERIFY(lsa::ParseOpenPolicy(open, &handle));
        QCOMPARE(handle, open.mid(24, 20));
        QByteArray denied = open;
        denied[44] = 0x22; // STATUS_ACCESS_DENIED
        denied[47] = char(0xc0);
        QVERIFY(!lsa::ParseOpenPolicy(denied, &handle));

        const QByteArray query = QByteArray::fromHex(
            "050002031000000044000000030000002c00000000000000000002000300000008000a00040002000000"
            "000005000000000000000400000043004f005200500000000000");
        QString name;
        QVERIFY(lsa::ParsePrimaryDomain(query, &name));
        QCOMPARE(name, QString("CORP"));
        // A fault PDU, a failure status, cut short, a length that lies.
        QByteArray fault = query;
        fault[2] = 3;
        QVERIFY(!lsa::ParsePrimaryDomain(fault, &name));
        QByteArray failed = query;
        failed[failed.size() - 1] = char(0xc0);
        QVERIFY(!lsa::ParsePrimaryDomain(failed, &name));
        QVERIFY(!lsa::ParsePrimaryDomain(query.left(50), &name));
        QByteArray lying = query;
        lying[32] = 0x7f; // the name's byte count
        QVERIFY(!lsa::ParsePrimaryDomain(lying, &name));
    }

    void hostLabel_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("label");
        QTest::newRow("local") << "golf.local"
                               << "GOLF";
        QTest::newRow("deeper") << "nas-1.lan.local"
                                << "NAS-1";
        QTest::newRow("bare") << "Echo"
                              << "ECHO";
        QTest::newRow("empty") << ""
                               << "";
    }
    void hostLabel()
    {
        QFETCH(QString, host);
        QFETCH(QString, label);
        QCOMPARE(mdns::HostLabel(host), label);
    }

    // Hosts found by both sources appear once, with WS-Discovery's workgroup; the others take
    // the one their workgroup question gave, else the source's.
    void merge()
    {
        std::vector<wsd::Host> wsdHosts{{"ECHO", "MODERN", false, "10.0.0.11"},
                                        {"FOXTROT", "CORP", true, "10.0.0.12"}};
        const std::vector<MdnsHostFields> mdnsHosts{{"echo", "10.0.0.99"},   // same name
                                                    {"FOX", "10.0.0.12"},    // same address
                                                    {"GOLF", "10.0.0.13"},   // asked: MODERN
                                                    {"HOTEL", "10.0.0.14"}}; // nobody says
        const auto merged = MergeAnnounced(wsdHosts, mdnsHosts, {{"10.0.0.13", "MODERN"}});
        QStringList got;
        for (const wsd::Host& h : merged)
            got << h.strWorkgroup + "\\" + h.strName + "@" + h.strAddress;
        QCOMPARE(got, (QStringList{"MODERN\\ECHO@10.0.0.11", "CORP\\FOXTROT@10.0.0.12",
                                   "MODERN\\GOLF@10.0.0.13", "mDNS\\HOTEL@10.0.0.14"}));
    }

    // An announcement (WS-Discovery, mDNS) is anybody's word: it never takes over a numeric
    // address or a name the system's resolver knows, and a second address for a name does not
    // replace the first.
    void announcedNamesFillInOnly()
    {
        using smb::Remembered;
        QCOMPARE(smb::RememberHostAddress("192.168.1.10", "10.9.9.9"), Remembered::NumericName);
        QCOMPARE(smb::ResolveHost("192.168.1.10"), QString("192.168.1.10"));
        QCOMPARE(smb::UncToUrl("\\\\192.168.1.10\\docs"), QByteArray("smb://192.168.1.10/docs"));
        QCOMPARE(smb::RememberHostAddress("localhost", "10.9.9.9"), Remembered::KnownName);
        QCOMPARE(smb::ResolveHost("localhost"), QString("localhost"));
        const QString name = QString("ANNOUNCED%1").arg(QCoreApplication::applicationPid());
        QCOMPARE(smb::RememberHostAddress(name, "10.9.9.1"), Remembered::Yes);
        QCOMPARE(smb::ResolveHost(name.toLower()), QString("10.9.9.1"));
        QCOMPARE(smb::RememberHostAddress(name, "10.9.9.1"), Remembered::Same);
        QCOMPARE(smb::RememberHostAddress(name, "10.9.9.66"), Remembered::OtherAddress);
        QCOMPARE(smb::ResolveHost(name), QString("10.9.9.1"));
        // Many at once cost one bounded wait, not one per name.
        std::vector<smb::NameAddress> many;
        for (int i = 0; i < 40; ++i)
            many.emplace_back(name + QString("-%1").arg(i), QString("10.9.8.%1").arg(i));
        many.emplace_back("127.0.0.1", "10.9.9.9");
        QElapsedTimer t;
        t.start();
        const std::vector<Remembered> got = smb::RememberHostAddresses(many, 1500);
        QVERIFY(t.elapsed() < 3000);
        QCOMPARE(got.back(), Remembered::NumericName);
        QCOMPARE(smb::ResolveHost("127.0.0.1"), QString("127.0.0.1"));
    }
};

QTEST_MAIN(TestAnnounce)
#include "tst_announce.moc"
