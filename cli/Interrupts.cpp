// The registry of temporary paths and the interrupt handler (Interrupts.h).
//
// The handler does the removal itself, in the thread the signal stopped,
// using only async-signal-safe calls (open/openat, getdents64, unlinkat,
// rmdir, unlink, close, write, _exit), then exits. This was chosen over a flag read by a
// watcher thread: the interrupted job cannot go on writing into a folder
// while it is being removed, nothing depends on another thread being
// scheduled on a loaded machine, and the clean-up happens even when the job
// is blocked in a long system call. Other threads (batch jobs) may run
// during the few microseconds of the removal, so the registry is swept until
// a pass finds nothing new. While the library makes a temporary path and
// registers it, the creating thread holds the signals off (the watcher's
// creating/creatingEnded), so a signal never falls between the two.
//
// The registry is a fixed table: registering and releasing never allocate,
// and the handler reads it without locks. A slot is free (0), being filled
// or emptied (1), live (2) or taken by the handler (3).
#include "Interrupts.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/SafeFiles.h"

#ifdef _WIN32
#include <windows.h>
#undef DeleteFile  // the platform function of that name, not the Win32 macro
#else
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif
#endif

namespace cz::cli {
namespace {

constexpr size_t kSlots = 256;
constexpr size_t kPathBytes = 4096;

struct Slot {
    std::atomic<int> state{0};
    bool folder = false;
    char path[kPathBytes];
};

Slot g_slots[kSlots];

void Created(const char* path, bool folder) {
    const size_t length = std::strlen(path);
    if (length == 0 || length >= kPathBytes) return;  // cannot be held; removed by the job as usual
    for (Slot& slot : g_slots) {
        int expected = 0;
        if (!slot.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) continue;
        std::memcpy(slot.path, path, length + 1);
        slot.folder = folder;
        slot.state.store(2, std::memory_order_release);
        return;
    }
}

void Released(const char* path) {
    for (Slot& slot : g_slots) {
        if (slot.state.load(std::memory_order_acquire) != 2 || std::strcmp(slot.path, path) != 0) continue;
        int expected = 2;
        if (!slot.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) continue;
        slot.path[0] = '\0';
        slot.state.store(0, std::memory_order_release);
        return;
    }
}

#ifdef _WIN32
// The console handler runs in a thread of its own; a path made at that very
// moment is the only one it can miss.
void Creating() {}
void CreatingEnded() {}
#else
// The three signals wait while a temporary path is made and registered, so
// that none exists unknown to the handler; they are delivered right after.
thread_local int t_depth = 0;
thread_local sigset_t t_saved;

void Creating() {
    if (t_depth++ > 0) return;
    sigset_t block;
    sigemptyset(&block);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, signal);
    pthread_sigmask(SIG_BLOCK, &block, &t_saved);
}

void CreatingEnded() {
    if (t_depth == 0 || --t_depth > 0) return;
    pthread_sigmask(SIG_SETMASK, &t_saved, nullptr);
}
#endif

const platform::TempPathWatcher kWatcher = {&Created, &Released, &Creating, &CreatingEnded};

#ifdef _WIN32

BOOL WINAPI OnConsoleEvent(DWORD event) {
    // Runs in a thread of its own: the ordinary removal functions are safe.
    static std::atomic<bool> stopping{false};
    if (stopping.exchange(true)) {
        Sleep(INFINITE);
    }
    for (int pass = 0; pass < 4; ++pass) {
        bool any = false;
        for (Slot& slot : g_slots) {
            int expected = 2;
            if (!slot.state.compare_exchange_strong(expected, 3, std::memory_order_acquire)) continue;
            any = true;
            if (slot.folder)
                platform::RemoveTree(slot.path);
            else
                platform::DeleteFile(slot.path);
        }
        if (!any) break;
    }
    static const char kMessage[] = "cadenzor: interrupted; the unfinished work was removed\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
    // The POSIX numbers of the matching signals: INT for Ctrl-C and
    // Ctrl-Break, HUP for a closed console, TERM for logoff and shutdown.
    const int signal = event == CTRL_CLOSE_EVENT ? 1 : (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ? 2 : 15;
    ExitProcess(static_cast<UINT>(128 + signal));
    return TRUE;
}

#else

// Removes what a folder holds, a few levels deep (private folders hold files
// and at most a folder or two of their own). Entries are read with the
// system call itself: readdir may allocate. Elsewhere than Linux only the
// folder itself is tried (the tool is built for Linux and Windows).
void RemoveContents(int dir, int depth) {
#ifdef __linux__
    for (int pass = 0; pass < 4; ++pass) {
        bool removed = false;
        if (::lseek(dir, 0, SEEK_SET) != 0) return;
        alignas(8) char buffer[2048];
        long n = 0;
        while ((n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
            for (long at = 0; at < n;) {
                // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
                unsigned short length = 0;
                std::memcpy(&length, buffer + at + 16, sizeof length);
                if (length == 0) break;
                const char* name = buffer + at + 19;
                at += length;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
                if (::unlinkat(dir, name, 0) == 0) {
                    removed = true;
                    continue;
                }
                if (depth >= 8) continue;
                const int sub = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) continue;
                RemoveContents(sub, depth + 1);
                ::close(sub);
                if (::unlinkat(dir, name, AT_REMOVEDIR) == 0) removed = true;
            }
        }
        if (!removed) return;
    }
#else
    (void)dir;
    (void)depth;
#endif
}

void RemoveFolder(const char* path) {
    const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        RemoveContents(dir, 0);
        ::close(dir);
    }
    ::rmdir(path);
}

void Say(const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(2, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

void OnSignal(int signal) {
    const int saved = errno;
    static std::atomic<int> stopping{0};
    if (stopping.exchange(1) != 0) {
        // Another thread is already cleaning up and will end the process.
        for (;;) ::pause();
    }
    for (int pass = 0; pass < 4; ++pass) {
        bool any = false;
        for (Slot& slot : g_slots) {
            int expected = 2;
            if (!slot.state.compare_exchange_strong(expected, 3, std::memory_order_acquire)) continue;
            any = true;
            if (slot.folder)
                RemoveFolder(slot.path);
            else
                ::unlink(slot.path);
        }
        if (!any) break;
    }
    Say(signal == SIGINT    ? "\ncadenzor: interrupted (SIGINT); the unfinished work was removed\n"
        : signal == SIGTERM ? "cadenzor: stopped (SIGTERM); the unfinished work was removed\n"
                            : "cadenzor: hung up (SIGHUP); the unfinished work was removed\n");
    errno = saved;
    ::_exit(128 + signal);
}

#endif

}  // namespace

void InstallInterruptCleanup() {
    platform::SetTempPathWatcher(&kWatcher);
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
#else
    // A write past the file-size limit fails with EFBIG instead of killing
    // the process, so the failed write is reported and cleaned up as any.
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;  // nohup and the like
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

}  // namespace cz::cli
