// What the end-to-end download tests share: the local image service and a private temporary folder
// for the run (ServiceFixture), a fresh pictures folder per test, the fake prompts and the bar.
//
//     class TestX : public QObject, public DownloadFixture { ... };
//     void TestX::initTestCase() { QVERIFY2(startService(catalog), qPrintable(service->errorText())); }
//     void TestX::init() { QVERIFY(reset()); }
#pragma once

#include "base/surface.h"
#include "fake_prompts.h"
#include "fetch/download_run.h"
#include "image_service.h"
#include "service_fixture.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class KeywordList;

class DownloadFixture : public ServiceFixture {
public:
    // One result of an answer as the service wrote it.
    struct Result {
        QString url;
        int width = 0;
        int height = 0;
        QString kind() const { return QUrl(url).path().section('/', 2, 2); }
        // The address curl is given: the query is not part of it.
        QString downloadPath() const { return QUrl(url).path(); }
    };

    // Before each test: settings cleared but for the service key, a fresh empty pictures folder.
    bool reset();

    // The answer the service gives for a keyword (asked with curl, not logged).
    QList<Result> answer(const QString& keyword, int pageNumber = 1, int pageSize = 25);
    // A run into the pictures folder, the folder text ending in "/".
    Download::RunSummary run(KeywordList& list, const QString& count = "3", const QString& start = "1");
    // The same with an observer of the test's own; its messages reach the fake prompts too.
    Download::RunSummary runWith(KeywordList& list, SurfaceState& observer, const QString& count = "3",
                                 const QString& start = "1");
    QStringList pictureRequests() const;
    QStringList folderEntries() const;
    // The end box of a run that kept pictures.
    QString done(int kept) const;
    // No private folder, no partial download, the bar and the pointer reset.
    void verifyNothingLeft() const;

    // The curl processes started by this test program that are still there.
    static QStringList curlChildren();
    static QByteArray fileBytes(const QString& path);

    std::unique_ptr<QTemporaryDir> folder;
    QString prefix; // the folder text as the main window holds it, ending in "/"
    FakePrompts prompts;
    SurfaceState surface;
};
