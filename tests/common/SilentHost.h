#pragma once

#include <QProcess>
#include <QString>

// A host that accepts TCP connections and never answers a byte. It ends with the test: when the
// test process goes away (even killed) it notices within half a second, and after 300 s anyway.
class SilentHost
{
public:
    ~SilentHost()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    // True once it listens on address:port.
    bool Start(const QString& address, int nPort = 445)
    {
        m_process.start(QStringLiteral("python3"),
                        {QStringLiteral("-c"),
                         QStringLiteral("import os,socket,sys,time\n"
                                        "parent=os.getppid()\n"
                                        "s=socket.socket()\n"
                                        "s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                                        "s.bind((sys.argv[1], int(sys.argv[2]))); s.listen(64)\n"
                                        "s.settimeout(0.5)\n"
                                        "print('up', flush=True)\n"
                                        "held=[]\n"
                                        "start=time.time()\n"
                                        "while os.getppid()==parent and time.time()-start<300:\n"
                                        "    try: held.append(s.accept())\n"
                                        "    except socket.timeout: pass\n"),
                         address, QString::number(nPort)});
        return m_process.waitForReadyRead(5000) && m_process.readAll().startsWith("up");
    }

private:
    QProcess m_process;
};
