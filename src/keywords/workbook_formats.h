#pragma once

// The file formats behind WorkbookReader. Each reader throws AppError when the file cannot be
// read as its kind of workbook.

#include "keywords/workbook.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace WorkbookFormats {

// Office Open XML (.xlsx, .xlsm).
Workbook readXlsx(const QString& path);
// OpenDocument spreadsheet (.ods).
Workbook readOds(const QString& path);
// The binary Excel format (.xls).
Workbook readXls(const QString& path);
// Comma separated values (.csv), one sheet.
Workbook readCsv(const QString& path);

// The members of a zip archive, read whole.
class ZipPackage {
public:
    explicit ZipPackage(const QString& path);
    ~ZipPackage();

    bool contains(const QString& name) const;
    // The member's bytes; throws AppError when it is missing or damaged.
    QByteArray read(const QString& name) const;

    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

private:
    void* zip_ = nullptr; // minizip's unzFile
    QStringList names_;
};

} // namespace WorkbookFormats
