// bench_launch: starts a program, waits until it is ready and prints how long that took on the
// monotonic clock, in milliseconds; then stops the program.
//
//     bench_launch --window TITLE [options] -- PROGRAM [ARGS...]
//     bench_launch --any-window   [options] -- PROGRAM [ARGS...]
//     bench_launch --line TEXT    [options] -- PROGRAM [ARGS...]
//
// Ready means:
//   --window TITLE  a top-level window whose title is exactly TITLE is mapped on $DISPLAY. The
//                   helper listens for the X server's MapNotify events on the root window, so
//                   nothing polls and the moment is the server's own.
//   --any-window    the first top-level window of any title is mapped (not an override-redirect
//                   popup, not a 1x1 helper window): for programs whose first window depends on
//                   their state, such as a profile chooser on a first run.
//   --line TEXT     a line containing TEXT appears on the program's standard output or error.
//   --answers       with --window or --any-window: the window, once mapped, has answered a
//                   _NET_WM_PING (EWMH), which its program does only when its event loop runs:
//                   the moment it would take a key or a click.
//
// Options:
//   --detach           with --window or --any-window: leave the program running when it is ready
//                      and print "MS PID", for a caller that goes on to use it (its output goes
//                      straight to the --log file, or nowhere)
//   --timeout SECONDS  give up after this long (default 60); the program is stopped, exit 1
//   --log FILE         copy the program's output there (otherwise it is dropped; with --line it
//                      is read through a pipe either way)
//
// The clock starts just before fork(), so the time includes fork, exec, dynamic loading and
// everything the program does until it is ready. The program runs in a process group of its own
// and gets SIGTERM if this helper dies. When ready, or on time-out, the helper sends SIGTERM to
// the program's pid, waits up to 5 s, then SIGKILLs its process group.
//
// Prints one number ("123.4") on standard output; messages go to standard error.

#include "netwmping.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: bench_launch (--window TITLE | --any-window | --line TEXT) "
                         "[--answers] [--detach] [--timeout SECONDS] [--log FILE] -- PROGRAM "
                         "[ARGS...]\n");
    std::exit(2);
}

int ignoreXErrors(Display *, XErrorEvent *) {
    return 0; // a window that went away between its event and our query
}

// The window's title: _NET_WM_NAME (UTF-8) when set, else WM_NAME.
std::string windowTitle(Display *dpy, Window w, Atom netWmName, Atom utf8String) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy, w, netWmName, 0, 1024, False, utf8String, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (type == utf8String && format == 8)
            title.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
    }
    if (!title.empty())
        return title;
    char *name = nullptr;
    if (XFetchName(dpy, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

struct Child {
    pid_t pid = -1;
    int status = 0;
    bool exited = false;

    bool poll() {
        if (exited)
            return true;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            exited = true;
        return exited;
    }
};

void drain(int fd, FILE *log) {
    if (fd < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        if (log)
            fwrite(buffer, 1, static_cast<size_t>(n), log);
    }
}

void stop(Child &child, int outFd, FILE *log) {
    if (child.poll())
        return;
    kill(child.pid, SIGTERM);
    const double deadline = nowMs() + 5000;
    while (!child.poll() && nowMs() < deadline) {
        drain(outFd, log); // a program blocked on a full pipe would never finish
        usleep(10000);
    }
    if (!child.poll()) {
        kill(-child.pid, SIGKILL);
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &child.status, 0);
        child.exited = true;
    }
    drain(outFd, log);
}

} // namespace

int main(int argc, char **argv) {
    std::string windowName, lineText, logPath;
    bool anyWindow = false;
    bool answers = false;
    bool detach = false;
    double timeoutMs = 60000;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--any-window") {
            anyWindow = true;
            continue;
        }
        if (arg == "--answers") {
            answers = true;
            continue;
        }
        if (arg == "--detach") {
            detach = true;
            continue;
        }
        if (i + 1 >= argc)
            usage();
        if (arg == "--window")
            windowName = argv[++i];
        else if (arg == "--line")
            lineText = argv[++i];
        else if (arg == "--timeout")
            timeoutMs = std::atof(argv[++i]) * 1000.0;
        else if (arg == "--log")
            logPath = argv[++i];
        else
            usage();
    }
    if (i >= argc || int(!windowName.empty()) + int(anyWindow) + int(!lineText.empty()) != 1 ||
        timeoutMs <= 0 || ((answers || detach) && !lineText.empty()))
        usage();
    char **program = argv + i;

    FILE *log = nullptr;
    if (!logPath.empty()) {
        log = std::fopen(logPath.c_str(), "a");
        if (!log) {
            std::fprintf(stderr, "bench_launch: cannot write %s: %s\n", logPath.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }

    // Everything that can be prepared is prepared before the clock starts.
    Display *dpy = nullptr;
    Atom netWmName = None, utf8String = None;
    std::optional<bench::NetWmPing> ping;
    if (!windowName.empty() || anyWindow) {
        dpy = XOpenDisplay(nullptr);
        if (!dpy) {
            std::fprintf(stderr, "bench_launch: cannot open display %s\n",
                         std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(unset)");
            return 2;
        }
        XSetErrorHandler(ignoreXErrors);
        netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
        utf8String = XInternAtom(dpy, "UTF8_STRING", False);
        ping.emplace(dpy);
        // Qt sends its answer to a ping to the root window for those selecting its structure
        // (StructureNotifyMask), not its substructure.
        XSelectInput(dpy, DefaultRootWindow(dpy),
                     SubstructureNotifyMask | (answers ? StructureNotifyMask : 0));
        XSync(dpy, False);
        fcntl(ConnectionNumber(dpy), F_SETFD, FD_CLOEXEC);
    }
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::perror("bench_launch: pipe");
        return 2;
    }
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    // A detached program writes to the log itself: a pipe would close when this helper ends.
    const bool readOutput = !detach && (!lineText.empty() || log);
    const pid_t parent = getpid();

    const double start = nowMs();
    Child child;
    child.pid = fork();
    if (child.pid < 0) {
        std::perror("bench_launch: fork");
        return 2;
    }
    if (child.pid == 0) {
        setpgid(0, 0);
        if (!detach)
            prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(devNull, STDIN_FILENO);
        const int out = readOutput ? pipeFds[1] : detach && log ? fileno(log) : devNull;
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execvp(program[0], program);
        std::fprintf(stderr, "bench_launch: cannot run %s: %s\n", program[0], std::strerror(errno));
        _exit(127);
    }
    setpgid(child.pid, child.pid); // both sides, so the group exists whoever runs first
    close(pipeFds[1]);
    const int outFd = pipeFds[0];
    fcntl(outFd, F_SETFL, O_NONBLOCK);

    const double deadline = start + timeoutMs;
    double readyAt = -1;
    std::string pending;         // output not yet split into lines
    std::vector<Window> watched; // mapped windows whose title may still change
    Window pinged = None;        // with --answers: the window mapped, asked to answer

    auto titleMatches = [&](Window w) {
        return windowTitle(dpy, w, netWmName, utf8String) == windowName;
    };

    while (readyAt < 0) {
        // X events first: Xlib may already hold some in its queue.
        while (dpy && XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            Window w = None;
            if (pinged != None) {
                if (ping->isAnswer(event, pinged, CurrentTime)) {
                    readyAt = nowMs();
                    break;
                }
                continue;
            }
            if (event.type == MapNotify && anyWindow) {
                XWindowAttributes attributes{};
                if (!event.xmap.override_redirect &&
                    XGetWindowAttributes(dpy, event.xmap.window, &attributes) &&
                    attributes.width > 1 && attributes.height > 1)
                    w = event.xmap.window;
            } else if (event.type == MapNotify) {
                w = event.xmap.window;
                if (!titleMatches(w)) {
                    // The title may be set after mapping: follow its properties.
                    XSelectInput(dpy, w, PropertyChangeMask);
                    watched.push_back(w);
                    w = titleMatches(w) ? w : None;
                }
            } else if (event.type == PropertyNotify &&
                       (event.xproperty.atom == netWmName || event.xproperty.atom == XA_WM_NAME)) {
                w = titleMatches(event.xproperty.window) ? event.xproperty.window : None;
            }
            if (w != None && answers) {
                pinged = w;
                ping->send(w, CurrentTime);
            } else if (w != None) {
                readyAt = nowMs();
                break;
            }
        }
        if (readyAt >= 0)
            break;

        pollfd fds[2];
        nfds_t count = 0;
        if (readOutput)
            fds[count++] = {outFd, POLLIN, 0};
        if (dpy)
            fds[count++] = {ConnectionNumber(dpy), POLLIN, 0};
        const double left = deadline - nowMs();
        if (left <= 0)
            break;
        // Wake up now and then to notice a program that exited without output.
        const int waitMs = static_cast<int>(left < 50 ? left + 1 : 50);
        const int r = ::poll(fds, count, waitMs);
        const double seen = nowMs();
        if (r < 0 && errno != EINTR) {
            std::perror("bench_launch: poll");
            break;
        }
        if (readOutput) {
            char buffer[4096];
            for (;;) {
                const ssize_t n = read(outFd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                if (log)
                    fwrite(buffer, 1, static_cast<size_t>(n), log);
                if (!lineText.empty()) {
                    pending.append(buffer, static_cast<size_t>(n));
                    size_t newline;
                    while (readyAt < 0 && (newline = pending.find('\n')) != std::string::npos) {
                        if (pending.substr(0, newline).find(lineText) != std::string::npos)
                            readyAt = seen;
                        pending.erase(0, newline + 1);
                    }
                }
            }
        }
        if (readyAt < 0 && child.poll())
            break;
    }

    const bool exitedEarly = readyAt < 0 && child.exited;
    if (detach && readyAt >= 0) {
        std::printf("%.1f %d\n", readyAt - start, static_cast<int>(child.pid));
        return 0;
    }
    stop(child, readOutput ? outFd : -1, log);
    if (log)
        std::fclose(log);
    if (dpy)
        XCloseDisplay(dpy);

    if (readyAt < 0) {
        if (exitedEarly && WIFSIGNALED(child.status))
            std::fprintf(stderr, "bench_launch: %s was killed by signal %d before it was ready\n",
                         program[0], WTERMSIG(child.status));
        else if (exitedEarly)
            std::fprintf(stderr, "bench_launch: %s exited with code %d before it was ready\n",
                         program[0], WEXITSTATUS(child.status));
        else
            std::fprintf(stderr, "bench_launch: %s was not ready within %.0f s\n", program[0],
                         timeoutMs / 1000);
        return 1;
    }
    std::printf("%.1f\n", readyAt - start);
    return 0;
}
