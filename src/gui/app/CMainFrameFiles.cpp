// The frame's file actions on the active results list: open a file, open its folder, save the
// list as a text file.
#include "CMainFrame.h"

#include "app/Prompter.h"
#include "results/CResultsWindow.h"
#include "results/FindsFile.h"

#include <QFileInfo>
#include <QSaveFile>

void CMainFrame::OnOpenFile()
{
    CChildFrame* results = ActiveResults();
    if (!results) {
        m_prompter.Message(tr("Can't open file."), tr("Brindlecove"), Prompter::NoIcon, Prompter::Ok);
        return;
    }
    const int row = results->View()->FirstSelectedRow();
    if (row < 0) {
        m_prompter.Message(tr("Please, select a file!"), tr("Error"), Prompter::Critical, Prompter::Ok);
        return;
    }
    m_prompter.OpenUrl(finds::UrlOf(results->Model()->At(row).strPath));
}

void CMainFrame::OnOpenFolder()
{
    CChildFrame* results = ActiveResults();
    if (!results) {
        m_prompter.Message(tr("Can't open file."), tr("Brindlecove"), Prompter::NoIcon, Prompter::Ok);
        return;
    }
    const int row = results->View()->FirstSelectedRow();
    if (row < 0) {
        m_prompter.Message(tr("Please, select a file!"), tr("Brindlecove"), Prompter::Critical,
                           Prompter::Ok);
        return;
    }
    const QString folder = finds::FolderOf(results->Model()->At(row).strPath);
    if (!folder.isEmpty())
        m_prompter.OpenUrl(finds::UrlOf(folder));
}

void CMainFrame::OnSaveFinds()
{
    CChildFrame* results = ActiveResults();
    if (!results) {
        m_prompter.Message(tr("Can't open file."), tr("Brindlecove"), Prompter::NoIcon, Prompter::Ok);
        return;
    }
    if (results->Model()->rowCount() == 0) {
        m_prompter.Message(tr("Finds list is empty!"), tr("Brindle Cove"), Prompter::Critical,
                           Prompter::Ok);
        return;
    }
    QString path = m_prompter.GetSaveFileName(tr("Save As"), QString(), tr("Text files(*.txt)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    // The rows as they are shown now, a sorted list sorted.
    results->Drain();
    QStringList paths;
    const ResultsModel* model = results->Model();
    paths.reserve(model->rowCount());
    for (int i = 0; i < model->rowCount(); ++i)
        paths << model->At(i).strPath;
    const QByteArray bytes = finds::Serialize(paths);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        m_prompter.Message(tr("Can't create file!"), tr("Brindle Cove"), Prompter::Critical,
                           Prompter::Ok);
}
