#pragma once

#include <QByteArray>
#include <QStringList>

#include <atomic>

// Runs a program with arguments, collects its standard output, and kills it when the deadline
// passes or abort is set. Safe on any thread (no event loop needed). Returns the exit code, or
// -1 when it could not be started, was killed or crashed.
struct HelperResult
{
    int nExitCode = -1;
    bool bTimedOut = false;
    QByteArray output;
};
HelperResult RunHelper(const QString& program, const QStringList& args, int msDeadline,
                       const std::atomic<bool>& abort);

// The program that serves the browse lists: brindlecove-cli next to the running executable,
// or $BC_HELPER when set.
QString BrowseHelperPath();
