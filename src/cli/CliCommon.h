#pragma once

#include "app/Error.h"
#include "network/NetworkTree.h"

#include <QString>
#include <QStringList>

// Shared pieces of brindlecove-cli's commands.
namespace cli {

// Exit codes: grep's convention where it applies.
constexpr int kExitOk = 0;
constexpr int kExitNothing = 1;
constexpr int kExitError = 2;

int Fail(const QString& message);    // a usage error
int FailRun(const QString& message); // a failure of the network or the system
void Print(const QString& text);     // stdout, UTF-8
// stderr, UTF-8; control characters other than line ends as their pictures
void PrintErr(const QString& text);
// One line of text that may hold names (a status text): every control character as its
// picture, a line end added.
void PrintErrLine(const QString& text);
void PrintTree(const NetworkTree& tree, NodeHandle node, int depth = 0);

// Takes "--name VALUE" out of args; returns false when the option has no value.
bool TakeOption(QStringList& args, const QString& name, QString* pValue);
bool TakeFlag(QStringList& args, const QString& name);

// Takes the login options out of args and sets the program's logins; -1 when they are
// sound, else the exit code (the reason is printed).
int TakeLoginOptions(QStringList& args);

// Whether --user gave a login for the servers.
bool GaveUser();
// Why a server's share list failed, as a line for stderr: a refusal without --user says that
// the server needs a login.
QString ShareListFailure(const QString& server, const Error& error);
// The servers of a tree (its server nodes): the --user login may go to them.
void AllowLoginFor(const NetworkTree& tree, NodeHandle node);

int RunNetworkCommand(const QString& command, QStringList args);
// bQuiet: the finds are counted, not printed (an index update).
int RunSearchCommand(QStringList args, bool bQuiet = false);
int RunIndexCommand(QStringList args);

} // namespace cli
