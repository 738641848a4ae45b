#include "CliCommon.h"

#include "app/ControlChars.h"
#include "network/LanBrowser.h"
#include "smb/Logins.h"

#include <cstdio>

namespace cli {

int Fail(const QString& message)
{
    PrintErr(QStringLiteral("brindlecove-cli: %1\nTry 'brindlecove-cli --help'.\n")
                 .arg(ctl::ToPictures(message)));
    return kExitError;
}

int FailRun(const QString& message)
{
    PrintErrLine(QStringLiteral("brindlecove-cli: ") + message);
    return kExitError;
}

void Print(const QString& text)
{
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
}

void PrintErr(const QString& text)
{
    // The line ends are ours; any other control character came with a name (an escape
    // sequence from a server would otherwise reach the terminal).
    QString shown;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            shown += QLatin1Char('\n');
        shown += ctl::ToPictures(lines[i]);
    }
    const QByteArray b = shown.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stderr);
}

void PrintErrLine(const QString& text)
{
    QString line = text;
    if (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    PrintErr(ctl::ToPictures(line) + QLatin1Char('\n'));
}

void PrintTree(const NetworkTree& tree, NodeHandle node, int depth)
{
    if (node == NoNode)
        return;
    Print(QString(depth * 2, QLatin1Char(' ')) + ctl::ToPictures(tree.GetItemText(node)) +
          QLatin1Char('\n'));
    for (NodeHandle c : tree.GetChildren(node))
        PrintTree(tree, c, depth + 1);
}

QString ShareListFailure(const QString& server, const Error& error)
{
    if (error.NeedsLogin() && !GaveUser())
        return QStringLiteral("\\\\%1 needs a login to list its shares (give --user)").arg(server);
    return QStringLiteral("cannot list the shares of %1: %2").arg(server, ErrorText(error));
}

void AllowLoginFor(const NetworkTree& tree, NodeHandle node)
{
    for (NodeHandle c : tree.GetChildren(node)) {
        if (tree.GetItemKind(c) == NK_SERVER)
            smb::Logins::Instance()->AllowFixed(tree.GetItemText(c));
        else
            AllowLoginFor(tree, c);
    }
}

bool TakeOption(QStringList& args, const QString& name, QString* pValue)
{
    const qsizetype i = args.indexOf(name);
    if (i < 0)
        return true;
    if (i + 1 >= args.size())
        return false;
    *pValue = args.at(i + 1);
    args.remove(i, 2);
    return true;
}

bool TakeFlag(QStringList& args, const QString& name)
{
    return args.removeAll(name) > 0;
}

} // namespace cli
