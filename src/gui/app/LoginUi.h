#pragma once

#include "smb/Logins.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class Prompter;
namespace QKeychain {
class Job;
}

// What the program's logins ask on the desktop: the "Connect to \\SERVER" question through the
// prompter, and remembered passwords in the desktop's secret store (never in the settings file
// or the log).
//
// Workers call LoadSaved, Save and Ask; the work itself runs on the GUI thread (the object's
// own), and the worker waits, watching its cancel function. A secret store job that does not
// answer within kMsSecretStore, or that fails for want of a secret service, is given up: the
// log says once that passwords are kept for this session only, and the store is not asked
// again. Detach (the frame is closing) makes every later call return at once.
class LoginUi : public QObject, public smb::Logins::Ui
{
    Q_OBJECT
public:
    static constexpr int kMsSecretStore = 5000;
    static constexpr const char* kService = "Brindlecove";

    LoginUi(Prompter& prompter, std::function<void(const QString&)> fnStatus);
    ~LoginUi() override;
    void Detach();

    std::optional<smb::Credentials> LoadSaved(const QString& server,
                                              const CancelToken& cancel) override;
    void Save(const QString& server, const smb::Credentials& login) override;
    std::optional<smb::Logins::Typed> Ask(const QString& server, const QString& reason,
                                          const QString& strLastUser,
                                          const CancelToken& cancel) override;

    // The secret store's entry for a server (also for tests that read it back).
    static QString Key(const QString& server);
    // Secret store jobs started and not yet finished, in every LoginUi; a job outlives the
    // object that started it until the store answers.
    static int StoreJobsRunning() { return s_nJobsRunning; }

private:
    struct Wait;
    // Runs fn on the GUI thread and waits for its reply; nullopt when cancelled or detached.
    template <typename T>
    std::optional<T> OnGui(const std::function<void(std::shared_ptr<Wait>)>& fn,
                           const CancelToken& cancel);
    void StartLoad(const QString& server, std::shared_ptr<Wait> wait);
    void NoSecretStore(const QString& why);
    static void StartJob(QKeychain::Job* job);
    static std::atomic<int> s_nJobsRunning;

    Prompter& m_prompter;
    std::function<void(const QString&)> m_fnStatus;
    std::mutex m_mutex;
    bool m_bDetached = false;
    bool m_bNoStore = false; // GUI thread
};
