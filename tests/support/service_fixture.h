// What the tests that talk to the local image service open with: the service over TLS with the
// program pointed at it, and a temporary location of the test's own (TMPDIR) for the private
// folders of runs and key tests.
//
//     class TestX : public QObject, public ServiceFixture { ... };
//     void TestX::initTestCase() { QVERIFY2(startService(catalog), qPrintable(service->errorText())); }
#pragma once

#include "image_service.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class ServiceFixture {
public:
    // Starts the service with the catalogue and the arguments, points the program at it and moves
    // the temporary location. False when it did not start.
    bool startService(const QByteArray& catalog = {}, const QStringList& serviceArguments = {});

    std::unique_ptr<ImageService> service;
    QTemporaryDir privateTemp; // made before the temporary location is moved into it
};
