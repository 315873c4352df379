// Start-up cost of the console: time from exec until the main window is
// mapped, and the peak resident memory of the process up to then. The floor
// for both is the console's own form, built from its window definition with
// its pictures and the navigation list filled, while the lspci stand-in runs
// and is read as the console does (this program itself with --form), started
// the same way in the same run. Targets: time and memory each at most 1.15
// times the floor's (medians). A bare window (--bare) is measured alongside
// for reading. The X server is a private Xvfb; lspci is a stand-in that
// exits at once, and (unless --real-disks) the kernel's partition list is an
// empty fixture, mounted in a private mount namespace where that is allowed.
//
//   bench_startup [--runs N] [--vkpanel PATH] [--real-disks]
//   bench_startup --bare | --form
#include "ui_untConMain.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QPixmap>
#include <QStringList>
#include <QTabWidget>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
#include "res/close.xpm"
#include "res/close_disabled.xpm"
#include "res/ok.xpm"
#include "res/program.xpm"

const char kBareTitle[] = "bench bare window";
const char kFormTitle[] = "bench form window";
const char kConsoleTitle[] = "Velkora Linux Console";
// vkpanel's time to its window and its peak memory, each against its own
// form built the plain way.
constexpr double kTimeTarget = 1.15;
constexpr double kMemoryTarget = 1.15;

int RunBare(int argc, char **argv, bool form)
{
    QApplication app(argc, argv);
    if (!form) {
        QWidget window;
        window.setWindowTitle(QString::fromLatin1(kBareTitle));
        window.resize(600, 380);
        window.show();
        return app.exec();
    }
    // The device listing runs while the form is built, and is read after.
    FILE *lspci = popen("lspci", "r");
    QWidget window;
    Ui::TfmConMain ui;
    ui.setupUi(&window);
    window.setWindowTitle(QString::fromLatin1(kFormTitle));
    ui.Image1->setPixmap(QPixmap(program_xpm));
    ui.btnRdebug->setIcon(QIcon(QPixmap(ok_xpm)));
    QIcon close{QPixmap(close_xpm)};
    close.addPixmap(QPixmap(close_disabled_xpm), QIcon::Disabled);
    ui.btnOK->setIcon(close);
    ui.listboxFunc->clear();
    for (int i = 0; i < ui.PageControl1->count(); ++i)
        ui.listboxFunc->addItem(ui.PageControl1->widget(i)->windowTitle());
    ui.listboxFunc->setCurrentRow(0);
    QStringList devices;
    if (lspci) {
        char line[1025];
        while (fgets(line, sizeof line, lspci))
            devices << QString::fromLocal8Bit(line).trimmed();
        pclose(lspci);
    }
    window.show();
    return app.exec();
}

// ---- Xlib, loaded at run time (the build links no X library) -------------
struct TXlib {
    void *lib = nullptr;
    Display *(*OpenDisplay)(const char *) = nullptr;
    int (*CloseDisplay)(Display *) = nullptr;
    int (*SelectInput)(Display *, Window, long) = nullptr;
    int (*Pending)(Display *) = nullptr;
    int (*NextEvent)(Display *, XEvent *) = nullptr;
    int (*Flush)(Display *) = nullptr;
    Atom (*InternAtom)(Display *, const char *, Bool) = nullptr;
    int (*GetWindowProperty)(Display *, Window, Atom, long, long, Bool, Atom, Atom *, int *,
                             unsigned long *, unsigned long *, unsigned char **) = nullptr;
    int (*Free)(void *) = nullptr;

    bool load()
    {
        lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return false;
        bool ok = true;
        auto sym = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            ok = ok && fn;
        };
        sym(OpenDisplay, "XOpenDisplay");
        sym(CloseDisplay, "XCloseDisplay");
        sym(SelectInput, "XSelectInput");
        sym(Pending, "XPending");
        sym(NextEvent, "XNextEvent");
        sym(Flush, "XFlush");
        sym(InternAtom, "XInternAtom");
        sym(GetWindowProperty, "XGetWindowProperty");
        sym(Free, "XFree");
        return ok;
    }
};
TXlib X;

double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string OwnPath()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    buf[n] = 0;
    return buf;
}

std::string DirOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool WriteFile(const std::string &path, const char *text, mode_t mode)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0)
        return false;
    const size_t len = strlen(text);
    const bool ok = write(fd, text, len) == ssize_t(len);
    close(fd);
    return ok;
}

std::string WindowTitle(Display *dpy, Window w)
{
    const Atom utf8 = X.InternAtom(dpy, "UTF8_STRING", False);
    const Atom names[] = {X.InternAtom(dpy, "_NET_WM_NAME", False), XA_WM_NAME};
    for (const Atom name : names) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        if (X.GetWindowProperty(dpy, w, name, 0, 1024, False, AnyPropertyType, &type, &format,
                                &count, &after, &data) == Success && data) {
            std::string title(reinterpret_cast<char *>(data), count);
            X.Free(data);
            if (!title.empty() && (type == utf8 || type == XA_STRING || format == 8))
                return title;
        }
    }
    return {};
}

// Starts Xvfb on a free display; its number, or -1.
int StartXvfb(pid_t &pid)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", "-noreset", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const double deadline = Now() + 20;
    while (number.find('\n') == std::string::npos && Now() < deadline) {
        if (poll(&p, 1, 500) <= 0)
            continue;
        char c;
        if (read(fds[0], &c, 1) != 1)
            break;
        number += c;
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos)
        return -1;
    return atoi(number.c_str());
}

struct TSample {
    double seconds = 0;
    long maxRssKiB = 0;
    bool ok = false;
    std::string note;
};

struct TSetup {
    std::string display;
    std::string path;           // PATH with the stand-in lspci first
    std::string runtimeDir;
    std::string partitions;     // empty: the real kernel list
    bool privateMounts = false;
};

// One start: exec → first map of a top-level window; then the process is
// ended and its peak memory read from wait4.
TSample StartOnce(Display *dpy, const TSetup &setup, const std::vector<std::string> &argv,
                  const char *title)
{
    TSample s;
    while (X.Pending(dpy)) {   // forget what earlier runs left behind
        XEvent e;
        X.NextEvent(dpy, &e);
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    const double t0 = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (setup.privateMounts && !setup.partitions.empty()) {
            if (unshare(CLONE_NEWNS) != 0
                || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(setup.partitions.c_str(), "/proc/partitions", nullptr, MS_BIND, nullptr) != 0)
                _exit(126);
        }
        setenv("DISPLAY", setup.display.c_str(), 1);
        setenv("PATH", setup.path.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("XDG_RUNTIME_DIR", setup.runtimeDir.c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0) {
        s.note = "fork failed";
        return s;
    }

    const int xfd = ConnectionNumber(dpy);
    const double deadline = t0 + 30;
    while (!s.ok && s.note.empty()) {
        while (X.Pending(dpy)) {
            XEvent e;
            X.NextEvent(dpy, &e);
            if (e.type != MapNotify || e.xmap.override_redirect)
                continue;
            const double t1 = Now();
            const std::string got = WindowTitle(dpy, e.xmap.window);
            if (got == title) {
                s.seconds = t1 - t0;
                s.ok = true;
                break;
            }
            if (!got.empty())
                s.note = "another window was mapped first: \"" + got + "\"";
        }
        if (s.ok || !s.note.empty())
            break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            s.note = "the program ended before showing its window";
            return s;
        }
        if (Now() > deadline) {
            s.note = "no window within 30 s";
            break;
        }
        pollfd p{xfd, POLLIN, 0};
        poll(&p, 1, 20);
    }

    kill(pid, SIGTERM);
    int status = 0;
    rusage ru{};
    const double killDeadline = Now() + 5;
    pid_t r = 0;
    while ((r = wait4(pid, &status, WNOHANG, &ru)) == 0 && Now() < killDeadline)
        usleep(10000);
    if (r == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &ru);
    }
    s.maxRssKiB = ru.ru_maxrss;
    return s;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int Usage()
{
    fprintf(stderr, "usage: bench_startup [--runs N] [--vkpanel PATH] [--real-disks]\n"
                    "       bench_startup --bare | --form\n");
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    int runs = 11;
    std::string self = OwnPath();
    std::string vkpanel = DirOf(DirOf(self)) + "/console/vkpanel";
    bool realDisks = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--bare" || a == "--form")
            return RunBare(argc, argv, a == "--form");
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, atoi(argv[++i]));
        else if (a == "--vkpanel" && i + 1 < argc)
            vkpanel = argv[++i];
        else if (a == "--real-disks")
            realDisks = true;
        else
            return Usage();
    }
    if (access(vkpanel.c_str(), X_OK) != 0) {
        fprintf(stderr, "bench_startup: %s is not built\n", vkpanel.c_str());
        return 1;
    }
    if (!X.load()) {
        fprintf(stderr, "bench_startup: libX11.so.6 cannot be loaded\n");
        return 1;
    }

    char tmpl[] = "/tmp/bench_startup.XXXXXX";
    if (!mkdtemp(tmpl)) {
        perror("bench_startup: mkdtemp");
        return 1;
    }
    const std::string work = tmpl;
    TSetup setup;
    setup.runtimeDir = work + "/xdg";
    mkdir(setup.runtimeDir.c_str(), 0700);
    mkdir((work + "/bin").c_str(), 0755);
    WriteFile(work + "/bin/lspci", "#!/bin/sh\nexit 0\n", 0755);
    const char *oldPath = getenv("PATH");
    setup.path = work + "/bin:" + (oldPath ? oldPath : "/usr/bin:/bin");
    if (!realDisks) {
        setup.partitions = work + "/partitions";
        WriteFile(setup.partitions, "major minor  #blocks  name\n\n", 0644);
        // Both programs start through the same fork → unshare → exec road.
        const pid_t probe = fork();
        if (probe == 0)
            _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
        int st = 0;
        waitpid(probe, &st, 0);
        setup.privateMounts = WIFEXITED(st) && WEXITSTATUS(st) == 0;
        if (!setup.privateMounts)
            fprintf(stderr, "note: no private mount namespace; the real disk list is read\n");
    }

    pid_t xvfb = -1;
    const int displayNo = StartXvfb(xvfb);
    int rc = 0;
    Display *dpy = nullptr;
    if (displayNo < 0) {
        fprintf(stderr, "bench_startup: Xvfb does not start\n");
        rc = 1;
    } else {
        setup.display = ":" + std::to_string(displayNo);
        dpy = X.OpenDisplay(setup.display.c_str());
        if (!dpy) {
            fprintf(stderr, "bench_startup: cannot open display %s\n", setup.display.c_str());
            rc = 1;
        }
    }

    if (dpy) {
        const Window root = DefaultRootWindow(dpy);
        X.SelectInput(dpy, root, SubstructureNotifyMask);
        X.Flush(dpy);

        struct TProgram {
            const char *label;
            std::vector<std::string> argv;
            const char *title;
            std::vector<double> seconds, rss;
        };
        TProgram programs[] = {{"bare", {self, "--bare"}, kBareTitle, {}, {}},
                               {"vkpanel", {vkpanel}, kConsoleTitle, {}, {}},
                               {"form", {self, "--form"}, kFormTitle, {}, {}}};
        printf("%-4s %-8s %10s %12s\n", "run", "program", "ms", "max RSS KiB");
        // One start of each first, not counted, warms the file cache; then
        // the programs alternate so that drift falls on all alike.
        for (int i = -1; i < runs && rc == 0; ++i) {
            for (TProgram &p : programs) {
                const TSample s = StartOnce(dpy, setup, p.argv, p.title);
                if (!s.ok) {
                    fprintf(stderr, "bench_startup: %s: %s\n", p.label, s.note.c_str());
                    rc = 1;
                    break;
                }
                if (i < 0)
                    continue;
                printf("%-4d %-8s %10.1f %12ld\n", i + 1, p.label, s.seconds * 1000, s.maxRssKiB);
                p.seconds.push_back(s.seconds);
                p.rss.push_back(double(s.maxRssKiB));
            }
        }
        if (rc == 0) {
            const double tB = Median(programs[0].seconds), mB = Median(programs[0].rss);
            const double tC = Median(programs[1].seconds), mC = Median(programs[1].rss);
            const double tF = Median(programs[2].seconds), mF = Median(programs[2].rss);
            const double timeRatio = tF > 0 ? tC / tF : 0.0;
            const double memRatio = mF > 0 ? mC / mF : 0.0;
            const bool timeMet = tF > 0 && timeRatio <= kTimeTarget;
            const bool memMet = mF > 0 && memRatio <= kMemoryTarget;
            printf("\nmedian of %d runs: bare %.1f ms / %.0f KiB, form %.1f ms / %.0f KiB, vkpanel %.1f ms / %.0f KiB\n",
                   runs, tB * 1000, mB, tF * 1000, mF, tC * 1000, mC);
            printf("time ratio   vkpanel/form: %.2f (target <= %.2f: %s)\n", timeRatio, kTimeTarget,
                   timeMet ? "met" : "missed");
            printf("memory ratio vkpanel/form: %.2f (target <= %.2f: %s)\n", memRatio, kMemoryTarget,
                   memMet ? "met" : "missed");
            printf("for reading: form to bare %.2f time, %.2f memory; vkpanel to bare %.2f time, %.2f memory\n",
                   tB > 0 ? tF / tB : 0.0, mB > 0 ? mF / mB : 0.0, tB > 0 ? tC / tB : 0.0, mB > 0 ? mC / mB : 0.0);
            if (!timeMet || !memMet)
                rc = 1;
        }
        X.CloseDisplay(dpy);
    }

    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    unlink((work + "/bin/lspci").c_str());
    rmdir((work + "/bin").c_str());
    unlink((work + "/partitions").c_str());
    rmdir(setup.runtimeDir.c_str());
    rmdir(work.c_str());
    return rc;
}
