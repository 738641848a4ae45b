#pragma once

#include <QString>
#include <QUrl>

// Where the installed manual and the feedback page are. The manual is a folder of HTML pages,
// installed under the data folder (share/brindlecove/manual) and looked for beside the program
// first (bin/../share/...: an installation under any prefix, and the build tree), then in the
// system's data folders. GUI thread.
namespace manual {

// The manual's folder, or empty when it is not installed.
QString Folder();
// A page of the manual as a file URL; empty when the manual is not installed.
QUrl Page(const QString& name);
// Where "Yes" in the exit question goes: the setting [Brindlecove] urlFeedback when set, else
// the address the build was configured with (BC_FEEDBACK_URL), else the manual's feedback page.
// Empty when none of them is there.
QUrl FeedbackUrl();

// Looks in this folder instead (tests, a relocated installation); empty restores the search.
void SetFolderOverride(const QString& folder);

} // namespace manual
