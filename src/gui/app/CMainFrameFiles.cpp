// The frame's file actions on the active results list: open a file, open its folder, save the
// list as a text file.
#include "CMainFrame.h"

#include "app/Prompter.h"
#include "results/CResultsWindow.h"
#include "results/FindsFile.h"

#include "results/FileOps.h"
#include "search/ShareFs.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QSaveFile>
#include <QSet>

#include <chrono>
#include <future>
#include <thread>

CChildFrame* CMainFrame::ActiveResultsOrSay()
{
    CChildFrame* results = ActiveResults();
    if (!results)
        m_prompter.Message(tr("Can't open file."), tr("Brindlecove"), Prompter::NoIcon,
                           Prompter::Ok);
    return results;
}

QString CMainFrame::SelectedPathOrSay(const QString& strCaption)
{
    CChildFrame* results = ActiveResultsOrSay();
    if (!results)
        return {};
    const int row = results->View()->FirstSelectedRow();
    if (row < 0) {
        m_prompter.Message(tr("Please, select a file!"), strCaption, Prompter::Critical,
                           Prompter::Ok);
        return {};
    }
    return results->Model()->At(row).strPath;
}

void CMainFrame::OnOpenFile()
{
    const QString path = SelectedPathOrSay(tr("Error"));
    if (!path.isEmpty())
        m_prompter.OpenUrl(finds::UrlOf(path));
}

void CMainFrame::OnOpenFolder()
{
    const QString folder = finds::FolderOf(SelectedPathOrSay(tr("Brindlecove")));
    if (!folder.isEmpty())
        m_prompter.OpenUrl(finds::UrlOf(folder));
}

void CMainFrame::OnSaveFinds()
{
    CChildFrame* results = ActiveResultsOrSay();
    if (!results)
        return;
    if (results->Model()->rowCount() == 0) {
        m_prompter.Message(tr("Finds list is empty!"), tr("Brindle Cove"), Prompter::Critical,
                           Prompter::Ok);
        return;
    }
    const QString path = m_prompter.GetSaveFileName(tr("Save As"), QString(),
                                                    tr("Text files(*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    // The rows as they are shown now, a sorted list sorted: a sort still running in the
    // background is done here first, so the file has the order the header shows.
    results->Drain();
    if (results->Model()->IsSorting()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        results->Model()->SortNow(results->Model()->SortColumn(), results->Model()->SortOrder());
        QApplication::restoreOverrideCursor();
    }
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

// Copy, move and delete run on a worker thread of their own, one at a time, with a progress
// dialog that can cancel them. The worker asks name-clash questions through the GUI thread and
// gives up on them when cancelled; the frame waits for it when it closes.
QList<fileops::Item> CMainFrame::SelectedItems(CChildFrame* results) const
{
    QList<fileops::Item> items;
    for (int row : results->View()->SelectedRows()) {
        const SearchResult& r = results->Model()->At(row);
        items.push_back({r.strPath, (r.nAttributes & kAttrDirectory) != 0,
                         (r.nAttributes & kAttrReparsePoint) != 0});
    }
    // Rows inside a selected folder go with it.
    return fileops::WithoutNested(items);
}

void CMainFrame::OnCopyFiles(bool bMove)
{
    CChildFrame* results = ActiveResults();
    if (!results || results->View()->FirstSelectedRow() < 0)
        return;
    if (m_fileOp && m_fileOp->bRunning) {
        PostStatus(tr("A file operation is still running."));
        return;
    }
    const QString target = m_prompter.GetExistingDirectory(bMove ? tr("Move file(s) to folder")
                                                                 : tr("Copy file(s) to folder"));
    if (target.isEmpty())
        return;
    RunFileOperation(bMove ? FileOpKind::Move : FileOpKind::Copy, SelectedItems(results), target,
                     results);
}

void CMainFrame::OnDeleteFiles()
{
    CChildFrame* results = ActiveResults();
    if (!results || results->View()->FirstSelectedRow() < 0)
        return;
    if (m_fileOp && m_fileOp->bRunning) {
        PostStatus(tr("A file operation is still running."));
        return;
    }
    const QList<fileops::Item> items = SelectedItems(results);
    const auto nFolders = std::count_if(
        items.begin(), items.end(), [](const fileops::Item& i) { return i.bFolder && !i.bLink; });
    const QString question =
        nFolders == 0
            ? tr("Delete %n selected file(s)? This cannot be undone.", nullptr,
                 static_cast<int>(items.size()))
            : tr("Delete %1 folder(s) with all their contents and %2 file(s)? This cannot be "
                 "undone.")
                  .arg(QString::number(nFolders), QString::number(items.size() - nFolders));
    if (m_prompter.Message(question, tr("Brindlecove"), Prompter::Question, Prompter::YesNo) !=
        Prompter::AnswerYes)
        return;
    RunFileOperation(FileOpKind::Delete, items, QString(), results);
}

void CMainFrame::RunFileOperation(FileOpKind kind, const QList<fileops::Item>& items,
                                  const QString& target, CChildFrame* results)
{
    if (m_fileOp && m_fileOp->thread.joinable())
        m_fileOp->thread.join();
    m_fileOp = std::make_unique<FileOperation>();
    FileOperation* op = m_fileOp.get();
    op->bRunning = true;
    const QString title = kind == FileOpKind::Copy   ? tr("Copying files")
                          : kind == FileOpKind::Move ? tr("Moving files")
                                                     : tr("Deleting files");
    auto* progress = new QProgressDialog(title, tr("Cancel"), 0, 0, this);
    progress->setObjectName(QStringLiteral("fileProgress"));
    progress->setWindowTitle(title);
    progress->setMinimumDuration(300);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    connect(progress, &QProgressDialog::canceled, this, [op] { op->bCancel = true; });
    QPointer<QProgressDialog> pProgress(progress);
    QPointer<CChildFrame> pResults(results);

    fileops::Callbacks cb;
    cb.fnProgress = [this, pProgress](const QString& path, quint64, quint64) {
        PostToGui([pProgress, path] {
            if (pProgress)
                pProgress->setLabelText(path);
        });
    };
    cb.fnAskClash = [this, op](const QString& dst, bool* pApplyAll) {
        auto answer = std::make_shared<std::promise<std::pair<fileops::Clash, bool>>>();
        std::future<std::pair<fileops::Clash, bool>> future = answer->get_future();
        PostToGui([this, answer, dst] {
            bool bAll = false;
            const fileops::Clash c = m_prompter.AskClash(dst, &bAll);
            answer->set_value({c, bAll});
        });
        while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
            if (op->bCancel)
                return fileops::Clash::Cancel;
        const auto [c, bAll] = future.get();
        *pApplyAll = bAll;
        return c;
    };
    auto factory = s_fnShareFsFactory ? s_fnShareFsFactory : [] { return MakeShareFs(); };
    op->thread = std::thread([this, op, kind, items, target, cb, factory, pProgress, pResults] {
        std::unique_ptr<ShareFs> fs = factory();
        // Cancel and Exit reach the network too: a request in flight (and a login question)
        // gives up within moments, whatever the server does.
        fs->SetCancel(CancelToken([op] { return op->bCancel.load(); }));
        const fileops::Outcome outcome =
            kind == FileOpKind::Delete
                ? fileops::Delete(*fs, items, op->bCancel, cb)
                : fileops::CopyInto(*fs, items, target, kind == FileOpKind::Move, op->bCancel, cb);
        op->bRunning = false;
        // The frame joins this thread before it goes; a call it has not run by then goes unrun.
        PostToGui([this, kind, outcome, pProgress, pResults, n = items.size()] {
            OnFileOperationDone(kind, outcome, static_cast<int>(n), pResults);
            if (pProgress)
                pProgress->close();
        });
    });
}

void CMainFrame::OnFileOperationDone(FileOpKind kind, const fileops::Outcome& outcome, int nItems,
                                     CChildFrame* results)
{
    // Rows of files that are gone from where the list says they are leave the list, those
    // inside a folder that went included.
    if (results && kind != FileOpKind::Copy && !outcome.done.isEmpty()) {
        const QSet<QString> gone(outcome.done.begin(), outcome.done.end());
        ResultsModel* model = results->Model();
        for (int row = model->rowCount() - 1; row >= 0; --row) {
            const QString& path = model->At(row).strPath;
            if (gone.contains(path) || fileops::IsInsideAny(path, gone))
                model->removeRows(row, 1);
        }
    }
    const QString verb = kind == FileOpKind::Copy   ? tr("copied")
                         : kind == FileOpKind::Move ? tr("moved")
                                                    : tr("deleted");
    PostStatus(tr("%1 of %2 item(s) %3.")
                   .arg(QString::number(outcome.done.size()), QString::number(nItems), verb));
    emit FileOperationFinished();
    if (outcome.failed.isEmpty())
        return;
    QStringList shown = outcome.failed.mid(0, 10);
    if (outcome.failed.size() > 10)
        shown << tr("... and %1 more").arg(outcome.failed.size() - 10);
    m_prompter.Message(
        tr("%1 item(s) could not be %2:\n%3")
            .arg(QString::number(outcome.failed.size()), verb, shown.join(QLatin1Char('\n'))),
        tr("Brindlecove"), Prompter::Warning, Prompter::Ok);
}

void CMainFrame::StopFileOperation()
{
    if (!m_fileOp)
        return;
    m_fileOp->bCancel = true;
    if (m_fileOp->thread.joinable())
        m_fileOp->thread.join();
}
