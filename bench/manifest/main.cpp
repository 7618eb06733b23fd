// collectChangedFiles for a large manifest against the same number of files on disk, timed against
// `find DIR -type f -printf '%s %p\n'` over the same tree, alternating.
//
//   orvel_bench_manifest DIR [FILES] [ROUNDS]      (defaults 100000 and 5)
//
// DIR is filled with FILES small files in 100 folders (kept if already there). Every manifest entry is current,
// the costliest case: each file is looked up on disk.
#include <algorithm>
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QProcess>

#include "Manifest.h"

namespace {
double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString pathOf(int i)
{
    return QStringLiteral("Folder %1/file %2.dat").arg(i % 100, 3, 10, QLatin1Char('0')).arg(i);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: orvel_bench_manifest DIR [FILES] [ROUNDS]\n");
        return 2;
    }
    const QString root = arguments.at(1);
    const int count = arguments.size() > 2 ? arguments.at(2).toInt() : 100000;
    const int rounds = arguments.size() > 3 ? arguments.at(3).toInt() : 5;

    QJsonArray serverList;
    QJsonArray localList;
    qint64 total = 0;
    for (int i = 0; i < count; ++i) {
        const QString path = pathOf(i);
        const int size = (i * 7919) % 2048;
        const QString full = root + QLatin1Char('/') + path;
        const QFileInfo existing(full);
        if (!existing.exists() || existing.size() != size) {
            QDir().mkpath(QFileInfo(full).absolutePath());
            QFile file(full);
            if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(size, 'x')) != size)
                return 1;
        }
        const QString hash = QString::number(qHash(path), 16);
        serverList.append(QJsonObject{{"path", path}, {"size", size}, {"hash", hash}});
        localList.append(QJsonObject{{"path", path}, {"hash", hash}});
        total += size;
    }
    QString error;
    const std::optional<Manifest> serverManifest =
        Manifest::parse(QJsonObject{{"version", "2.0"}, {"totalFileSize", total}, {"fileList", serverList}}, &error);
    if (!serverManifest) {
        std::fprintf(stderr, "manifest refused: %s\n", qPrintable(error));
        return 1;
    }
    const Manifest installed = Manifest::fromInstalled(QJsonObject{{"fileList", localList}});

    auto ours = [&] {
        QStringList paths;
        QElapsedTimer clock;
        clock.start();
        const qint64 left = collectChangedFiles(*serverManifest, installed, root, paths);
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (left != 0 || !paths.isEmpty())
            std::fprintf(stderr, "unexpected result: %lld bytes, %d paths\n", left, int(paths.size()));
        return seconds;
    };
    auto find = [&] {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral("find"), {root, "-type", "f", "-printf", "%s %p\\n"});
        process.waitForFinished(-1);
        return clock.nsecsElapsed() / 1e9;
    };

    ours();
    find();
    QList<double> ourTimes;
    QList<double> findTimes;
    for (int r = 1; r <= rounds; ++r) {
        double o;
        double f;
        if (r % 2) {
            o = ours();
            f = find();
        } else {
            f = find();
            o = ours();
        }
        ourTimes << o;
        findTimes << f;
        std::printf("round %d: collectChangedFiles %.3f s, find %.3f s\n", r, o, f);
    }
    const double o = median(ourTimes);
    const double f = median(findTimes);
    std::printf("%d entries against %d files; median: collectChangedFiles %.3f s, find %.3f s, ratio %.2f "
                "(goal <= 2.00)\n",
                count, count, o, f, o / f);
    return 0;
}
