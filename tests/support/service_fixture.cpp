#include "service_fixture.h"

#include <QFile>

bool ServiceFixture::startService(const QByteArray& catalog, const QStringList& serviceArguments) {
    service = std::make_unique<ImageService>(serviceArguments, catalog);
    if (!service->isRunning() || !privateTemp.isValid())
        return false;
    service->applyToEnvironment();
    qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
    return true;
}
