// Tree files from anywhere: the reader never crashes, never takes more than the caps allow,
// and what it builds saves to a file that reads back to the same tree.
#include "network/TreeFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<treefile::Line> lines;
    QString err;
    if (!treefile::Parse(bytes, lines, &err)) {
        if (err.isEmpty())
            std::abort(); // a refusal always says why
        return 0;
    }
    if (lines.size() > std::size_t(treefile::kMaxNodes))
        std::abort();
    if (lines.empty())
        return 0;
    NetworkTree tree;
    const NodeHandle root = treefile::Build(tree, lines);
    const QByteArray saved = treefile::Serialize(tree, root);
    // What is saved reads back to a tree that saves the same bytes again. One file is two
    // trees by the format's own rule: "0MS Windows Network" alone is the root alone, which is
    // also what a root with one childless node of that name saves as.
    static const QByteArray rootAlone = [] {
        const QString s = QStringLiteral("0MS Windows Network\n");
        return QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
    }();
    std::vector<treefile::Line> again;
    if (!saved.isEmpty() && saved != rootAlone) {
        if (!treefile::Parse(saved, again, &err))
            std::abort();
        NetworkTree back;
        const NodeHandle root2 = treefile::Build(back, again);
        if (treefile::Serialize(back, root2) != saved || back.GetCount() != tree.GetCount())
            std::abort();
    }
    return 0;
}
