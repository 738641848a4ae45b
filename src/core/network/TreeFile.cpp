#include "TreeFile.h"

#include "app/ControlChars.h"

#include <QFile>
#include <QSaveFile>

namespace treefile {
namespace {

const QString kRootText = QStringLiteral("MS Windows Network");

void AppendLine(QByteArray& out, int nCode, const QString& text)
{
    // A control character in a name (a line feed above all) would split the line: written as
    // its picture, read back as the character.
    const QString line = QString::number(nCode) + ctl::ToPictures(text) + QLatin1Char('\n');
    const qsizetype nOld = out.size();
    out.resize(nOld + line.size() * 2);
    char* p = out.data() + nOld;
    for (QChar c : line) {
        const char16_t u = c.unicode();
        *p++ = static_cast<char>(u & 0xff);
        *p++ = static_cast<char>(u >> 8);
    }
}

void WriteTreeLines(const NetworkTree& tree, NodeHandle root, NodeHandle node, QByteArray& out)
{
    if (node == NoNode)
        return;
    const std::vector<NodeHandle> children = tree.GetChildren(node);
    if (children.empty()) {
        AppendLine(out, 0, tree.GetItemText(node));
        return;
    }
    for (NodeHandle child : children) {
        if (tree.ItemHasChildren(child)) {
            AppendLine(out, tree.GetParentItem(child) == root ? 2 : 1, tree.GetItemText(child));
            WriteTreeLines(tree, root, child, out);
        } else {
            AppendLine(out, 0, tree.GetItemText(child));
        }
    }
}

} // namespace

QByteArray Serialize(const NetworkTree& tree, NodeHandle root)
{
    QByteArray out;
    WriteTreeLines(tree, root, root, out);
    return out;
}

bool Save(const NetworkTree& tree, NodeHandle root, const QString& path, QString* pError)
{
    const QByteArray bytes = Serialize(tree, root);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        if (pError)
            *pError = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    return true;
}

bool Parse(const QByteArray& bytes, std::vector<Line>& lines, QString* pError)
{
    lines.clear();
    auto fail = [pError](const QString& why) {
        if (pError)
            *pError = why;
        return false;
    };
    if (bytes.size() % 2 != 0)
        return fail(QStringLiteral("The file is not a network tree file (its size is odd)."));
    const qsizetype nChars = bytes.size() / 2;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    auto at = [p](qsizetype i) { return static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8)); };
    qsizetype i = 0;
    int nLine = 0;
    while (i < nChars) {
        if (++nLine > kMaxNodes)
            return fail(QStringLiteral("The file has more than %1 nodes.").arg(kMaxNodes));
        qsizetype end = i;
        while (end < nChars && at(end) != u'\n') {
            if (end - i > kMaxLineChars)
                return fail(
                    QStringLiteral("Line %1 is too long for a network tree file.").arg(nLine));
            ++end;
        }
        const char16_t code = at(i);
        if (code < u'0' || code > u'2')
            return fail(
                QStringLiteral("Line %1 does not start with a node code (0, 1 or 2).").arg(nLine));
        Line line;
        line.nCode = code - u'0';
        line.strText.resize(end - i - 1);
        for (qsizetype k = i + 1; k < end; ++k)
            line.strText[k - i - 1] = QChar(at(k));
        line.strText = ctl::FromPictures(line.strText);
        lines.push_back(std::move(line));
        i = end + 1;
    }
    return true;
}

NodeHandle Build(NetworkTree& tree, const std::vector<Line>& lines)
{
    tree.DeleteAll();
    const NodeHandle root = tree.InsertItem(NoNode, InsertPos::Last, kRootText, NK_NETWORK);
    if (lines.size() == 1 && lines[0].nCode == 0 && lines[0].strText == kRootText)
        return root;
    NodeHandle lastDomain = NoNode; // latest code-2 node
    NodeHandle lastServer = NoNode; // latest code-1 node since lastDomain
    for (const Line& line : lines) {
        switch (line.nCode) {
        case 2:
            lastDomain = tree.InsertItem(root, InsertPos::Last, line.strText, NK_DOMAIN);
            lastServer = NoNode;
            break;
        case 1: {
            const NodeHandle parent = lastDomain != NoNode ? lastDomain : root;
            lastServer = tree.InsertItem(parent, InsertPos::Last, line.strText,
                                         parent == root ? NK_DOMAIN : NK_SERVER);
            break;
        }
        default: {
            const NodeHandle parent = lastServer != NoNode   ? lastServer
                                      : lastDomain != NoNode ? lastDomain
                                                             : root;
            const NodeKind kind = parent == root         ? NK_DOMAIN
                                  : parent == lastDomain ? NK_SERVER
                                                         : NK_SHARE;
            tree.InsertItem(parent, InsertPos::Last, line.strText, kind);
            break;
        }
        }
    }
    return root;
}

NodeHandle Load(NetworkTree& tree, const QString& path, QString* pError)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (pError)
            *pError = file.errorString();
        return NoNode;
    }
    if (file.size() > kMaxFileBytes) {
        if (pError)
            *pError = QStringLiteral("The file is too large for a network tree file.");
        return NoNode;
    }
    const QByteArray bytes = file.readAll();
    std::vector<Line> lines;
    if (!Parse(bytes, lines, pError))
        return NoNode;
    if (lines.empty()) {
        if (pError)
            *pError = QStringLiteral("The file is empty.");
        return NoNode;
    }
    return Build(tree, lines);
}

} // namespace treefile
