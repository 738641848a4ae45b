#include "SmbLibrary.h"

#include <libsmbclient.h>
#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <new>

// Exported by libsamba-util; declared in a header that is not installed.
extern "C" {
struct smb_thread_functions
{
    int (*create_mutex)(const char* lockname, void** pplock, const char* location);
    void (*destroy_mutex)(void* plock, const char* location);
    int (*lock_mutex)(void* plock, int lock_type, const char* location);
    int (*create_tls)(const char* keyname, void** ppkey, const char* location);
    void (*destroy_tls)(void** pkey, const char* location);
    int (*set_tls)(void* pkey, const void* pval, const char* location);
    void* (*get_tls)(void* pkey, const char* location);
};
int smb_thread_set_functions(const struct smb_thread_functions* tf);
// libsmbconf: overrides a configuration value for the whole process.
bool lp_set_cmdline(const char* pszParmName, const char* pszParmValue);
// libsamba-util: converts between the library's character sets.
bool convert_string_talloc(void* ctx, int from, int to, const void* src, size_t srclen, void* dest,
                           size_t* converted_size);
}

namespace smb {
namespace {

constexpr int kLock = 1;
constexpr int kUnlock = 2;

int CreateMutex(const char*, void** pplock, const char*)
{
    auto* m = new (std::nothrow) pthread_mutex_t;
    if (!m)
        return ENOMEM;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete m;
        return rc;
    }
    *pplock = m;
    return 0;
}

void DestroyMutex(void* plock, const char*)
{
    auto* m = static_cast<pthread_mutex_t*>(plock);
    pthread_mutex_destroy(m);
    delete m;
}

int LockMutex(void* plock, int type, const char*)
{
    auto* m = static_cast<pthread_mutex_t*>(plock);
    if (!m)
        return EINVAL;
    if (type == kLock)
        return pthread_mutex_lock(m);
    if (type == kUnlock)
        return pthread_mutex_unlock(m);
    return EINVAL;
}

// The library asks for its thread-local values before it has created their keys: a missing
// key reads as "no value yet".
int CreateTls(const char*, void** ppkey, const char*)
{
    if (*ppkey)
        return 0;
    auto* key = new (std::nothrow) pthread_key_t;
    if (!key)
        return ENOMEM;
    const int rc = pthread_key_create(key, nullptr);
    if (rc != 0) {
        delete key;
        return rc;
    }
    *ppkey = key;
    return 0;
}

void DestroyTls(void** ppkey, const char*)
{
    if (!*ppkey)
        return;
    auto* key = static_cast<pthread_key_t*>(*ppkey);
    pthread_key_delete(*key);
    delete key;
    *ppkey = nullptr;
}

int SetTls(void* pkey, const void* pval, const char*)
{
    if (!pkey)
        return EINVAL;
    return pthread_setspecific(*static_cast<pthread_key_t*>(pkey), pval);
}

void* GetTls(void* pkey, const char*)
{
    if (!pkey)
        return nullptr;
    return pthread_getspecific(*static_cast<pthread_key_t*>(pkey));
}

std::mutex g_authMutex;
AuthCallback g_fnAuth;

} // namespace

void InitSmbLibrary()
{
    static const bool bDone = [] {
        static const smb_thread_functions tf = {CreateMutex, DestroyMutex, LockMutex, CreateTls,
                                                DestroyTls,  SetTls,       GetTls};
        smb_thread_set_functions(&tf);
        // The library converts strings through process-wide converter handles that it creates
        // on first use, and the "DOS" character set goes through iconv descriptors that are
        // not safe to share between threads: concurrent logons then fail at random
        // ("convert_string_talloc: out of memory"). So: load the configuration now, make the
        // DOS set one of the library's own stateless converters (Latin-1, close to the
        // Windows code page; it only matters for SMB1's OEM strings), and create every converter
        // handle before any thread runs.
        SMBCCTX* ctx = smbc_new_context();
        if (ctx)
            smbc_free_context(ctx, 1);
        lp_set_cmdline("dos charset", "ISO-8859-1");
        constexpr int kCharsets = 6; // UTF-16LE, unix, DOS, UTF-8, UTF-16BE, UTF-16 munged
        for (int from = 0; from < kCharsets; ++from) {
            for (int to = 0; to < kCharsets; ++to) {
                char* out = nullptr;
                size_t n = 0;
                const char16_t probe[] = u"a";
                const bool bWide = from == 0 || from == 4 || from == 5;
                convert_string_talloc(nullptr, from, to,
                                      bWide ? static_cast<const void*>(probe) : "a", bWide ? 2 : 1,
                                      &out, &n);
            }
        }
        return true;
    }();
    (void)bDone;
}

std::mutex& SmbContextLock()
{
    static std::mutex m;
    return m;
}

void SetAuthCallback(AuthCallback fn)
{
    std::lock_guard lock(g_authMutex);
    g_fnAuth = std::move(fn);
}

Credentials AskCredentials(const QString& server, const QString& share)
{
    AuthCallback fn;
    {
        std::lock_guard lock(g_authMutex);
        fn = g_fnAuth;
    }
    if (fn)
        return fn(server, share);
    return Credentials{};
}

} // namespace smb
