#pragma once

// Stand-ins for the SMB helper program, for tests of the pool that lends helpers.

#include "smb/HelperProtocol.h"

#include <QFile>
#include <QTemporaryDir>

namespace fakehelper {

// An executable script in dir with the given body (a shell script unless it names its own
// interpreter).
inline QString Script(const QTemporaryDir& dir, const QByteArray& body)
{
    const QString path = dir.filePath("helper.sh");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write((body.startsWith("#!") ? QByteArray() : QByteArray("#!/bin/sh\n")) + body + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// A fake helper in Python that reads frames and answers each request with the frames the
// program itself encodes. pause: seconds before each answer; nDieAfter: it ends (without
// a word) on that request.
inline QByteArray PythonHelper(const smbproto::FromHelper& answer, double pause = 0.05,
                               int nDieAfter = 0)
{
    return "#!/usr/bin/env python3\n"
           "import socket, struct, time\n"
           "s = socket.socket(fileno=3)\n"
           "answer = bytes.fromhex('" +
           smbproto::Encode(answer).toHex() +
           "')\n"
           "def take(n):\n"
           "    b = b''\n"
           "    while len(b) < n:\n"
           "        c = s.recv(n - len(b))\n"
           "        if not c: raise SystemExit(0)\n"
           "        b += c\n"
           "    return b\n"
           "count = 0\n"
           "while True:\n"
           "    take(struct.unpack('<I', take(4))[0])\n"
           "    count += 1\n"
           "    if count == " +
           QByteArray::number(nDieAfter) +
           ": raise SystemExit(0)\n"
           "    time.sleep(" +
           QByteArray::number(pause) +
           ")\n"
           "    s.sendall(answer)\n";
}

} // namespace fakehelper
