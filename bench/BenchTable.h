#pragma once

#include <QFile>
#include <QString>

// One row of the benchmark report's table (to the file BC_BENCH_TABLE names, when it does):
// what, our figure, the reference's, and how many times faster (or smaller) ours is; a ratio
// of 0 or less prints as "-".
inline void TableRow(const QString& what, const QString& ours, const QString& reference,
                     double ratio = 0)
{
    const QString path = qEnvironmentVariable("BC_BENCH_TABLE");
    if (path.isEmpty())
        return;
    QFile f(path);
    if (!f.open(QIODevice::Append))
        return;
    f.write(QStringLiteral("| %1 | %2 | %3 | %4 |\n")
                .arg(what, ours, reference,
                     ratio > 0 ? QString::number(ratio, 'f', 2) + QStringLiteral("x")
                               : QStringLiteral("-"))
                .toUtf8());
}
