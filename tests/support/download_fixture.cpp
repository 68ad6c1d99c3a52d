#include "download_fixture.h"

#include "base/error_report.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "fetch/credits_file.h"
#include "keywords/keyword_list.h"
#include "test_settings.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <unistd.h>

bool DownloadFixture::reset() {
    TestSettings::clear();
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    Globals::RunBusy = false;
    folder = std::make_unique<QTemporaryDir>(privateTemp.path() + "/../download-e2e-pictures-XXXXXX");
    prefix = folder->path() + '/';
    prompts.reset();
    surface = SurfaceState();
    service->clearRequests();
    return folder->isValid();
}

QList<DownloadFixture::Result> DownloadFixture::answer(const QString& keyword, int pageNumber, int pageSize) {
    QByteArray body;
    const QString query = QStringLiteral("q=%1&pageNumber=%2&pageSize=%3&autoCorrect=true")
                              .arg(QString::fromLatin1(QUrl::toPercentEncoding(keyword)))
                              .arg(pageNumber)
                              .arg(pageSize);
    service->curl({"-H", "x-rapidapi-host: " + service->host(), "-H",
                   "x-rapidapi-key: " + ImageService::validKey(), service->searchUrl(query)},
                  &body);
    service->clearRequests();
    QList<Result> results;
    for (const QJsonValue& v : QJsonDocument::fromJson(body).object().value("value").toArray()) {
        const QJsonObject o = v.toObject();
        results.append({o.value("url").toString(), o.value("width").toInt(), o.value("height").toInt()});
    }
    return results;
}

Download::RunSummary DownloadFixture::run(KeywordList& list, const QString& count, const QString& start) {
    return runWith(list, surface, count, start);
}

Download::RunSummary DownloadFixture::runWith(KeywordList& list, SurfaceState& observer, const QString& count,
                                              const QString& start) {
    observer.setTellTo(&prompts);
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
    return Download::DownloadRun(list, observer, trap, prefix, count, start,
                                 Download::RunOptions::fromSettings());
}

QStringList DownloadFixture::pictureRequests() const {
    QStringList paths;
    for (const auto& r : service->requests())
        if (r.path.startsWith("/img/"))
            paths << r.path;
    return paths;
}

QString DownloadFixture::done(int kept) const {
    return Download::DoneText() + "\r\n\r\n" + QString::number(kept) +
           (kept == 1 ? " picture" : " pictures") + " saved in " + folder->path() + ".";
}

QStringList DownloadFixture::folderEntries() const {
    QStringList entries =
        QDir(folder->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    entries.removeOne(QLatin1String(CreditsFile::FileName)); // checked by the tests of credits
    return entries;
}

void DownloadFixture::verifyNothingLeft() const {
    QVERIFY2(QDir(privateTemp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             "the private folder is left");
    for (const QString& name : folderEntries())
        QVERIFY2(!name.startsWith('.'), qPrintable("temporary download left: " + name));
    QVERIFY(!Globals::RunBusy);
    QCOMPARE(surface.pointer(), int(Surface::Default));
    QCOMPARE(surface.progressValue(), 0);
    QCOMPARE(surface.progressText(), QStringLiteral("Progress Bar"));
}

QStringList DownloadFixture::curlChildren() {
    QStringList children;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromLatin1(stat.readAll());
        const QStringList after = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (after.size() > 1 && after.at(1) == self && text.contains("(curl)"))
            children << pid;
    }
    return children;
}

QByteArray DownloadFixture::fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
