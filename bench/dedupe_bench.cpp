// Keeping no picture twice in a full folder: FolderPictures against a folder of 10,000 pictures of
// about 100 KB each (about 1 GB in all), with sizes drawn from a few hundred distinct values so that
// about 30 files share each size and the size alone never decides.
//
// Every second picture of the folder carries credits written after it arrived: its bytes are the
// picture as it arrived with a block of 3,000 bytes of metadata put in after the signature, and the
// folder's list of originals (FolderPictures::rememberOriginal) holds the size and SHA-256 of the
// bytes as they arrived. A download of such a picture is the picture as it arrived, so only that list
// can tell it is a copy.
//
// A run of 100 downloads is simulated as the download run does it: each download is written to a
// hidden partial file in the folder, checked with holdsCopyOf, then either deleted (a copy) or moved
// to a visible name and added (a new picture). Half the downloads are byte copies of files in the
// folder, half are new, in a shuffled order.
//
// The 100 checks are made in three passes, each on a fresh FolderPictures over the same 10,000 files
// (the pictures kept by a pass are removed after it):
//   1. right after the folder was written, so its files are most likely still in the page cache;
//   2. a second pass, with the files the first one read certainly in the page cache;
//   3. after asking the kernel to drop this folder's files from the page cache (fdatasync, then
//      posix_fadvise DONTNEED on each of them, nothing else), so the hashes read from the disk.
// Before each pass the share of the folder's bytes in the page cache is measured (mincore) and
// printed. The figures are printed only; nothing fails on time.
//
//   bench_dedupe [distinct sizes] [credits]   (default 300 and 1; credits 0: no picture carries any)

#include "fetch/download_target.h"
#include "fetch/folder_pictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

constexpr int FolderFiles = 10000;
constexpr int Downloads = 100;
constexpr qint64 SmallestSize = 92160; // 90 KiB
constexpr qint64 LargestSize = 112640; // 110 KiB: the mean is 100 KiB
// The metadata that credits add to a picture, and where.
constexpr qint64 CreditsAt = 20;
constexpr qint64 CreditsBytes = 3000;

bool withCredits = true;

bool credited(int index) {
    return withCredits && index % 2 == 1;
}

double milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// Random bytes that begin with a JPEG signature and end with the end-of-image marker.
QByteArray pictureBytes(QRandomGenerator& random, qint64 size) {
    std::vector<quint32> words(static_cast<size_t>((size + 3) / 4));
    random.fillRange(words.data(), static_cast<qsizetype>(words.size()));
    QByteArray bytes(size, Qt::Uninitialized);
    std::memcpy(bytes.data(), words.data(), static_cast<size_t>(size));
    static const char start[] = {'\xFF', '\xD8', '\xFF', '\xE0', '\x00', '\x10', 'J', 'F', 'I', 'F', '\x00'};
    std::memcpy(bytes.data(), start, sizeof start);
    bytes[size - 2] = '\xFF';
    bytes[size - 1] = '\xD9';
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// The share (0..1) of the files' bytes that is in the page cache, by mapping each file without
// touching it and asking mincore.
double cachedShare(const QStringList& files) {
    const long page = sysconf(_SC_PAGESIZE);
    qint64 pages = 0;
    qint64 resident = 0;
    std::vector<unsigned char> state;
    for (const QString& path : files) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > 0) {
            const size_t length = static_cast<size_t>(info.st_size);
            void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                state.assign((length + page - 1) / page, 0);
                if (::mincore(map, length, state.data()) == 0) {
                    pages += static_cast<qint64>(state.size());
                    for (unsigned char s : state)
                        resident += s & 1;
                }
                ::munmap(map, length);
            }
        }
        ::close(fd);
    }
    return pages ? static_cast<double>(resident) / static_cast<double>(pages) : 0;
}

// Asks the kernel to drop the files (only these) from the page cache; dirty pages are written first.
void dropFromCache(const QStringList& files) {
    for (const QString& path : files) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

struct Download {
    QByteArray bytes;
    bool copy = false;
};

struct Pass {
    double first = 0;
    bool firstIsCopy = false;
    int firstHashed = 0;
    std::vector<double> rest;
    std::vector<double> restCopies;
    std::vector<double> restNew;
    int hashed = 0;
    int copiesFound = 0;  // copies that were refused
    int copiesKept = 0;   // copies taken for new pictures
    int newKept = 0;      // new pictures kept
    int newRefused = 0;   // new pictures taken for copies
    int failures = 0;     // partial files that could not be made, written or kept
    int visibleAfter = 0; // visible files in the folder after the pass
    int leftPartials = 0; // hidden files left in the folder after the pass
};

double mean(const std::vector<double>& values) {
    return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The 100 downloads as the run handles them, on a fresh FolderPictures. The pictures the pass kept
// are removed at the end, so that every pass sees the same folder.
Pass runPass(const QString& folder, const std::vector<Download>& downloads) {
    Pass pass;
    FolderPictures pictures(folder);
    QStringList kept;
    for (size_t i = 0; i < downloads.size(); ++i) {
        const Download& download = downloads[i];
        const QString partial = DownloadTarget::createPartial(folder);
        if (partial.isEmpty() || !writeFile(partial, download.bytes)) {
            ++pass.failures;
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        const bool copy = pictures.holdsCopyOf(partial);
        const double took = milliseconds(clock);
        if (i == 0) {
            pass.first = took;
            pass.firstIsCopy = download.copy;
            pass.firstHashed = pictures.hashed();
        } else {
            pass.rest.push_back(took);
            (download.copy ? pass.restCopies : pass.restNew).push_back(took);
        }
        if (copy) {
            QFile::remove(partial);
            ++(download.copy ? pass.copiesFound : pass.newRefused);
            continue;
        }
        const QString keptPath =
            DownloadTarget::keep(partial, folder, QStringLiteral("new"), kept.size(), QStringLiteral("jpg"));
        if (keptPath.isEmpty()) {
            QFile::remove(partial);
            ++pass.failures;
            continue;
        }
        pictures.add(keptPath);
        kept << keptPath;
        ++(download.copy ? pass.copiesKept : pass.newKept);
    }
    pass.hashed = pictures.hashed();
    const QDir dir(folder);
    pass.visibleAfter = static_cast<int>(dir.entryList(QDir::Files).size());
    pass.leftPartials = static_cast<int>(
        dir.entryList({QStringLiteral(".glimmerfetch-*.part")}, QDir::Files | QDir::Hidden).size());
    for (const QString& path : kept)
        QFile::remove(path);
    return pass;
}

void print(const char* name, const Pass& pass, double cachedBefore) {
    const int copies = pass.copiesFound + pass.copiesKept;
    const int fresh = pass.newKept + pass.newRefused;
    std::printf("\n%s\n", name);
    std::printf("  page cache before the pass: %.1f%% of the folder's bytes\n", 100 * cachedBefore);
    std::printf("  first check: %.2f ms (a %s; lists the folder), files hashed by it: %d of %d\n", pass.first,
                pass.firstIsCopy ? "copy" : "new picture", pass.firstHashed, FolderFiles);
    std::printf("  checks after the first: %zu, average %.3f ms (target: under 5 ms), median %.3f ms, "
                "max %.3f ms\n",
                pass.rest.size(), mean(pass.rest), median(pass.rest),
                pass.rest.empty() ? 0 : *std::max_element(pass.rest.begin(), pass.rest.end()));
    std::printf("    copies: average %.3f ms; new pictures: average %.3f ms\n", mean(pass.restCopies),
                mean(pass.restNew));
    std::printf("  files hashed in all: %d of %d in the folder\n", pass.hashed, FolderFiles);
    std::printf("  copies found: %d of %d; copies kept as new pictures: %d\n", pass.copiesFound, copies,
                pass.copiesKept);
    std::printf("  new pictures kept: %d of %d; new pictures taken for copies: %d\n", pass.newKept, fresh,
                pass.newRefused);
    std::printf("  visible files after the pass: %d (%d + %d kept); partial files left: %d; failures: %d\n",
                pass.visibleAfter, FolderFiles, pass.newKept, pass.leftPartials, pass.failures);
    const bool sound = pass.copiesFound == Downloads / 2 && pass.copiesKept == 0 && pass.newRefused == 0 &&
                       pass.newKept == Downloads / 2 && pass.failures == 0 && pass.leftPartials == 0;
    std::printf("  %s\n", sound
                              ? "all 50 copies found, no copy kept as a new picture, all 50 new pictures kept"
                              : "MISMATCH: see the counts above");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int distinctSizes = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 300;
    withCredits = argc <= 2 || QByteArray(argv[2]) != "0";

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/bench_dedupe-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("cannot make a temporary folder: %s\n", qPrintable(dir.errorString()));
        return 1;
    }
    const QString folder = DownloadTarget::folderPrefix(dir.path());
    QRandomGenerator random(20261208);

    std::vector<qint64> sizes;
    for (int k = 0; k < distinctSizes; ++k)
        sizes.push_back(distinctSizes == 1
                            ? (SmallestSize + LargestSize) / 2
                            : SmallestSize + (LargestSize - SmallestSize) * k / (distinctSizes - 1));
    auto anySize = [&] { return sizes[random.bounded(static_cast<quint32>(sizes.size()))]; };

    // The folder.
    QElapsedTimer clock;
    clock.start();
    QStringList files;
    qint64 total = 0;
    int rememberFailures = 0;
    for (int i = 0; i < FolderFiles; ++i) {
        const QString path = folder + QStringLiteral("picture %1.jpg").arg(i + 1);
        const QByteArray arrived = pictureBytes(random, anySize());
        QByteArray bytes = arrived;
        if (credited(i))
            bytes.insert(CreditsAt, QByteArray(CreditsBytes, 'M'));
        if (!writeFile(path, bytes)) {
            std::printf("cannot write %s\n", qPrintable(path));
            return 1;
        }
        if (credited(i) &&
            !FolderPictures::rememberOriginal(path, FolderPictures::originalOf(arrived)).isEmpty())
            ++rememberFailures;
        files << path;
        total += bytes.size();
    }
    std::printf("folder: %s\n", qPrintable(dir.path()));
    std::printf(
        "folder: %s; the list of originals holds %d entries, %lld bytes (%d could not be written)\n",
        withCredits ? "every second picture carries credits written after it arrived"
                    : "no picture carries credits",
        withCredits ? FolderFiles / 2 : 0,
        static_cast<long long>(QFileInfo(folder + QLatin1String(FolderPictures::OriginalsFileName)).size()),
        rememberFailures);
    std::printf("folder: %d files, %.1f MB (%lld bytes), %d distinct sizes from %lld to %lld bytes "
                "(%.1f files per size on average), written in %.1f s\n",
                FolderFiles, static_cast<double>(total) / 1e6, static_cast<long long>(total), distinctSizes,
                static_cast<long long>(sizes.front()), static_cast<long long>(sizes.back()),
                static_cast<double>(FolderFiles) / distinctSizes, milliseconds(clock) / 1000);

    // The downloads: 50 byte copies of distinct folder files, 50 new pictures of the folder's sizes.
    std::vector<int> order(FolderFiles);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<Download> downloads;
    for (int i = 0; i < Downloads / 2; ++i) {
        QFile original(files[order[i]]);
        if (!original.open(QIODevice::ReadOnly)) {
            std::printf("cannot read %s\n", qPrintable(files[order[i]]));
            return 1;
        }
        QByteArray bytes = original.readAll();
        if (credited(order[i]))
            bytes.remove(CreditsAt, CreditsBytes); // the picture as it arrived
        downloads.push_back({bytes, true});
    }
    for (int i = 0; i < Downloads / 2; ++i)
        downloads.push_back({pictureBytes(random, anySize()), false});
    std::shuffle(downloads.begin(), downloads.end(), random);
    std::printf("run: %d downloads, %d byte copies of pictures in the folder as they arrived and %d new "
                "pictures, shuffled; "
                "each written to a hidden .glimmerfetch-<pid>-<hex>.part file in the folder\n",
                Downloads, Downloads / 2, Downloads / 2);

    double cached = cachedShare(files);
    const Pass cold = runPass(folder, downloads);
    print("pass 1, \"cold\": fresh FolderPictures right after the folder was written (the files were just "
          "written, so they are likely in the page cache)",
          cold, cached);

    cached = cachedShare(files);
    const Pass second = runPass(folder, downloads);
    print("pass 2: fresh FolderPictures, second pass over the same folder", second, cached);

    clock.restart();
    dropFromCache(files);
    const double dropping = milliseconds(clock);
    cached = cachedShare(files);
    const Pass dropped = runPass(folder, downloads);
    print("pass 3: fresh FolderPictures after dropping the folder's files from the page cache", dropped,
          cached);
    std::printf("  (fdatasync and POSIX_FADV_DONTNEED on the %d files took %.1f s)\n", FolderFiles,
                dropping / 1000);

    std::printf("\nthe temporary folder is removed now\n");
    return 0;
}
