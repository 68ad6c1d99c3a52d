#pragma once

// The file formats behind WorkbookReader. Each reader throws AppError when the file cannot be
// read as its kind of workbook.

#include "sheets/workbook.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>

namespace WorkbookFormats {

// Office Open XML (.xlsx, .xlsm).
Workbook readXlsx(const QString& path);
// OpenDocument spreadsheet (.ods).
Workbook readOds(const QString& path);
// The binary Excel format (.xls).
Workbook readXls(const QString& path);
// Comma separated values (.csv), one sheet.
Workbook readCsv(const QString& path);

// One member of a zip archive as a stream of its inflated bytes, never held whole. Reading stops
// (as at the end of the data) once the member inflates beyond its declared size or the limits;
// finish() then says why.
class ZipMember : public QIODevice {
public:
    ZipMember(void* zip, const QString& name, quint64 declaredSize);
    ~ZipMember() override;

    bool isSequential() const override { return true; }
    // A sequential device is at its end once its buffer is empty unless it says otherwise; this
    // one is at its end when the member is.
    bool atEnd() const override { return stopped() && QIODevice::bytesAvailable() == 0; }

    // Throws LimitExceeded when the member broke a limit, AppError when it turned out damaged.
    // Call it once the member has been read.
    void finish();

    ZipMember(const ZipMember&) = delete;
    ZipMember& operator=(const ZipMember&) = delete;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool stopped() const { return ended_ || tooLarge_ || damaged_; }

    void* zip_;
    QString name_;
    quint64 declared_;
    quint64 inflated_ = 0;
    bool tooLarge_ = false;
    bool damaged_ = false;
    bool ended_ = false;
    bool closed_ = false;
};

// The members of a zip archive. Members are opened one at a time, as streams; an archive is
// refused when a member would inflate beyond InputLimits::MaxMemberBytes, or beyond
// InputLimits::MaxInflateRatio times its compressed size once larger than RatioCheckedAbove.
class ZipPackage {
public:
    explicit ZipPackage(const QString& path);
    ~ZipPackage();

    bool contains(const QString& name) const;
    // The member as a stream; throws AppError when it is missing or damaged, LimitExceeded when
    // its size breaks a limit. The stream must be gone before the next member is opened.
    std::unique_ptr<ZipMember> open(const QString& name) const;

    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

private:
    void* zip_ = nullptr; // minizip's unzFile
    QStringList names_;
};

} // namespace WorkbookFormats
