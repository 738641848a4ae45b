#include "CliCommon.h"

#include <cstdio>

namespace cli {

int Fail(const QString& message)
{
    PrintErr(QStringLiteral("brindlecove-cli: %1\nTry 'brindlecove-cli --help'.\n").arg(message));
    return kExitError;
}

void Print(const QString& text)
{
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
}

void PrintErr(const QString& text)
{
    const QByteArray b = text.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stderr);
}

void PrintTree(const NetworkTree& tree, NodeHandle node, int depth)
{
    if (node == NoNode)
        return;
    Print(QString(depth * 2, QLatin1Char(' ')) + tree.GetItemText(node) + QLatin1Char('\n'));
    for (NodeHandle c : tree.GetChildren(node))
        PrintTree(tree, c, depth + 1);
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
