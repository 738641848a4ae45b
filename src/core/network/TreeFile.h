#pragma once

#include "NetworkTree.h"

#include <QByteArray>
#include <QString>

// The network tree file (*.nft): UTF-16LE without a byte-order mark, one line per node written
// depth-first as the code, the text and a line feed ("%d%s\n"). Code 2: a node with children
// whose parent is the root; 1: a node with children deeper down; 0: a node without children.
// The root itself is written only when it has no children ("0MS Windows Network\n").
namespace treefile {

// The file's bytes for the tree below root (empty when root is none).
QByteArray Serialize(const NetworkTree& tree, NodeHandle root);

// Writes the file through a temporary file that replaces the target only when every byte was
// written, so a failed save never leaves a shorter file. False with *pError on failure.
bool Save(const NetworkTree& tree, NodeHandle root, const QString& path, QString* pError);

// One line of a file.
struct Line
{
    int nCode = 0;
    QString strText;
};
// Splits the bytes into lines. False with *pError for bytes that are no tree file: an odd
// size, a line that does not start with 0, 1 or 2, a line longer than kMaxLineChars, more
// than kMaxNodes lines. A last line without its line feed is taken as it is.
// A network of 200,000 nodes is far beyond any real one; the file size cap follows from it
// (80 characters a line on average), so a hostile file cannot take the memory of the machine.
constexpr int kMaxLineChars = 32767;
constexpr int kMaxNodes = 200000;
constexpr qint64 kMaxFileBytes = qint64(kMaxNodes) * 80 * 2;
bool Parse(const QByteArray& bytes, std::vector<Line>& lines, QString* pError);

// Replaces the tree with the file's nodes: a new root "MS Windows Network", code-2 lines under
// the root, code-1 lines under the latest code-2 node, code-0 lines under the latest code-1 node
// opened since the latest code-2 line (else the latest code-2 node, else the root). A file whose
// only line is code 0 "MS Windows Network" is the root alone. Kinds follow the depth.
// Returns the new root, or NoNode with *pError (the tree is then left as it was).
NodeHandle Load(NetworkTree& tree, const QString& path, QString* pError);
NodeHandle Build(NetworkTree& tree, const std::vector<Line>& lines);

} // namespace treefile
