#include "network/WsDiscovery.h"

#include <QtTest>

// The WS-Discovery messages: what we send parses as what it is, and the answers of Windows and
// wsdd give their endpoint, addresses and computer.
class TestWsd : public QObject
{
    Q_OBJECT

private slots:
    void computer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("bOk");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("bDomain");
        QTest::newRow("workgroup") << "echo/Workgroup:Modern" << true << "ECHO"
                                   << "MODERN" << false;
        QTest::newRow("domain") << "FOXTROT/Domain:corp.example" << true << "FOXTROT"
                                << "CORP.EXAMPLE" << true;
        QTest::newRow("no kind") << "ECHO/MODERN" << false << ""
                                 << "" << false;
        QTest::newRow("unknown kind") << "ECHO/Forest:X" << false << ""
                                      << "" << false;
        QTest::newRow("empty group") << "ECHO/Workgroup:" << false << ""
                                     << "" << false;
        QTest::newRow("no name") << "/Workgroup:X" << false << ""
                                 << "" << false;
        QTest::newRow("empty") << "" << false << ""
                               << "" << false;
    }
    void computer()
    {
        QFETCH(QString, text);
        QFETCH(bool, bOk);
        wsd::Host h;
        QCOMPARE(wsd::ParseComputer(text, &h), bOk);
        if (!bOk)
            return;
        QTEST(h.strName, "name");
        QTEST(h.strWorkgroup, "group");
        QTEST(h.bDomain, "bDomain");
    }

    void ourMessages()
    {
        wsd::Parsed p = wsd::Parse(wsd::ProbeMessage("urn:uuid:1"));
        QCOMPARE(p.strAction, QString("Probe"));
        QCOMPARE(p.strMessageId, QString("urn:uuid:1"));
        p = wsd::Parse(wsd::ResolveMessage("urn:uuid:2", "urn:uuid:<&>"));
        QCOMPARE(p.strAction, QString("Resolve"));
        QCOMPARE(p.strEndpoint, QString("urn:uuid:<&>")); // escaped on the way out
        p = wsd::Parse(wsd::GetMessage("urn:uuid:3", "urn:uuid:dev", "urn:uuid:me"));
        QCOMPARE(p.strAction, QString("Get"));
    }

    void answers()
    {
        const QByteArray match =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
            "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
            "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\">"
            "<soap:Header><wsa:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/"
            "anonymous</wsa:To><wsa:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/"
            "ResolveMatches</wsa:Action><wsa:MessageID>urn:uuid:m1</wsa:MessageID>"
            "<wsa:RelatesTo>urn:uuid:r</wsa:RelatesTo></soap:Header><soap:Body>"
            "<wsd:ResolveMatches><wsd:ResolveMatch><wsa:EndpointReference><wsa:Address>"
            "urn:uuid:dev</wsa:Address></wsa:EndpointReference><wsd:Types>wsdp:Device "
            "pub:Computer</wsd:Types><wsd:XAddrs>http://10.0.0.5:5357/dev "
            "http://[fe80::1]:5357/dev</wsd:XAddrs><wsd:MetadataVersion>1"
            "</wsd:MetadataVersion></wsd:ResolveMatch></wsd:ResolveMatches></soap:Body>"
            "</soap:Envelope>";
        wsd::Parsed p = wsd::Parse(match);
        QCOMPARE(p.strAction, QString("ResolveMatches"));
        QCOMPARE(p.strMessageId, QString("urn:uuid:m1"));
        QCOMPARE(p.strEndpoint, QString("urn:uuid:dev"));
        QCOMPARE(p.xaddrs, (QStringList{"http://10.0.0.5:5357/dev", "http://[fe80::1]:5357/dev"}));

        const QByteArray metadata =
            "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
            "xmlns:pub=\"http://schemas.microsoft.com/windows/pub/2005/07\"><soap:Body>"
            "<wsx:Metadata xmlns:wsx=\"http://schemas.xmlsoap.org/ws/2004/09/mex\">"
            "<wsdp:Relationship xmlns:wsdp=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\">"
            "<wsdp:Host><pub:Computer>ECHO/Workgroup:MODERN</pub:Computer></wsdp:Host>"
            "</wsdp:Relationship></wsx:Metadata></soap:Body></soap:Envelope>";
        QCOMPARE(wsd::Parse(metadata).strComputer, QString("ECHO/Workgroup:MODERN"));
        // Not XML at all, or cut short: nothing, and no crash.
        QVERIFY(wsd::Parse("\x01\x02garbage").strEndpoint.isEmpty());
        QVERIFY(wsd::Parse(match.left(300)).strEndpoint.isEmpty());
    }

    // No interface to ask (the tests' loopback has no multicast): an empty answer at once.
    void nothingToAsk()
    {
        qputenv("BC_WSD_INTERFACES", "no-such-interface");
        std::atomic<bool> abort{false};
        QElapsedTimer t;
        t.start();
        const wsd::Result r = wsd::Discover(3000, abort);
        QCOMPARE(r.nInterfaces, 0);
        QVERIFY(r.hosts.empty());
        QVERIFY(t.elapsed() < 500);
    }
};

QTEST_GUILESS_MAIN(TestWsd)
#include "tst_wsd.moc"
