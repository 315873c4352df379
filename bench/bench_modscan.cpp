// The configuration tool's module scan (TfmMain::ScanModules) over module
// trees of 1,000, 20,000 and 80,000 files, against a floor measured in the
// same run: the same directory walk in plain C (opendir/readdir, names cut
// at their last dot into std::string) plus one std::sort and one
// std::unique, both ignoring case with strcasecmp. The two take turns, each
// from an empty list, the last run's list freed off the clock on both sides.
// Target: the scan of 80,000 files at most 1.5 times the floor.
//
//   bench_modscan [files...]      (default 1000 20000 80000)
#include "benchutil.h"
#include "untMain.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRepetitions = 9;
constexpr int kFilesPerDir = 100;
constexpr int kTargetFiles = 80000;
constexpr double kTarget = 1.5;

// A tree shaped like drivers/net: vendors, each with driver directories of
// kFilesPerDir modules. One name in twenty appears again in another
// directory, as a module built for two buses does.
void build(const std::string &root, int files)
{
    char path[512];
    for (int i = 0; i < files; ++i) {
        const int dir = i / kFilesPerDir;
        std::snprintf(path, sizeof path, "%s/vendor%02d", root.c_str(), dir % 37);
        mkdir(path, 0755);
        std::snprintf(path, sizeof path, "%s/vendor%02d/drv%04d", root.c_str(), dir % 37, dir);
        if (i % kFilesPerDir == 0)
            mkdir(path, 0755);
        const int id = i % 20 == 19 ? (i * 7919) % files : i;
        std::snprintf(path, sizeof path, "%s/vendor%02d/drv%04d/mod_%c%05d.ko", root.c_str(), dir % 37, dir,
                      'a' + id % 26, id);
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            qFatal("cannot create %s", path);
        ::close(fd);
    }
}

void walk(const std::string &dir, std::vector<std::string> &names)
{
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (e->d_type == DT_DIR) {
            walk(dir + e->d_name + '/', names);
            continue;
        }
        const char *dot = std::strrchr(e->d_name, '.');
        names.emplace_back(e->d_name, dot ? size_t(dot - e->d_name) : std::strlen(e->d_name));
    }
    closedir(d);
}

size_t floorScan(const std::string &dir, std::vector<std::string> &names)
{
    walk(dir, names);
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string &a, const std::string &b) {
                                return strcasecmp(a.c_str(), b.c_str()) == 0;
                            }),
                names.end());
    return names.size();
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty())
        sizes = {1000, 20000, kTargetFiles};

    bool met = true;
    for (const int files : sizes) {
        QTemporaryDir dir;
        if (!dir.isValid())
            qFatal("no scratch directory");
        const std::string root = QFile::encodeName(dir.path()).toStdString();
        build(root, files);

        // Floor and scan take turns, so that both meet the same load. Each
        // starts from an empty list; the last run's list is freed off the
        // clock on both sides.
        std::vector<std::string> floorNames;
        QStringList scanList;
        size_t floorCount = 0;
        qsizetype scanCount = 0;
        const auto times = bench::takeTurns(
            kRepetitions,
            {{[&] { floorCount = floorScan(root + '/', floorNames); }, [&] { std::vector<std::string>().swap(floorNames); }},
             {[&] {
                  TfmMain::ScanModules(dir.path(), scanList);
                  scanCount = scanList.size();
              },
              [&] { scanList = QStringList(); }}});
        const std::vector<double> &floor = times[0], &scan = times[1];
        if (size_t(scanCount) != floorCount)
            qFatal("the scan listed %lld names, the floor %zu", static_cast<long long>(scanCount), floorCount);
        const double best = scan.front() / floor.front();
        const double median = bench::median(scan) / bench::median(floor);
        const bool judged = files == kTargetFiles;
        std::printf("%6d files, %6zu names: scan best %7.2f ms median %7.2f ms, floor best %7.2f ms median %7.2f ms,"
                    " ratio best %.2f median %.2f",
                    files, floorCount, scan.front() * 1e3, bench::median(scan) * 1e3, floor.front() * 1e3,
                    bench::median(floor) * 1e3, best, median);
        if (judged) {
            const bool ok = median <= kTarget;
            met = met && ok;
            std::printf(" (target <= %.1f: %s)", kTarget, ok ? "met" : "missed");
        }
        std::printf("\n");
    }
    return met ? EXIT_SUCCESS : EXIT_FAILURE;
}
