// Import and export of a 100,000-row keyword sheet: the export command writing the workbook, and
// the import reading it back (whole column A highlighted) from .xlsx, .ods and .csv.

#include "base/error_report.h"
#include "base/surface.h"
#include "fake_free_prompts.h"
#include "keywords/keyword_list.h"
#include "sheets/spreadsheet_list.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <zip.h>

namespace {

constexpr int Rows = 100000;

class BenchPrompts : public SilentPrompts {
public:
    QString savePath;
    QString saveFile(const FileRequest&) override { return savePath; }
    std::optional<CellRange> chooseCellBlock(const Sheet&, const QString&) override {
        return CellRange{1, 1, SheetLimits::Rows, 1}; // whole column A
    }
};

QString keyword(int k) {
    return QStringLiteral("keyword number %1").arg(k);
}

bool writeOds(const QString& path) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content "
                     "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                     "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
                     "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
                     "<office:spreadsheet><table:table table:name=\"Sheet1\">";
    for (int k = 1; k <= Rows; ++k)
        xml += "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" +
               keyword(k).toUtf8() +
               "</text:p></table:table-cell><table:table-cell table:number-columns-repeated=\"1023\"/>"
               "</table:table-row>";
    xml += "</table:table></office:spreadsheet></office:body></office:document-content>";
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    zip_fileinfo info{};
    zipOpenNewFileInZip64(zip, "content.xml", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                          Z_DEFAULT_COMPRESSION, 0);
    zipWriteInFileInZip(zip, xml.constData(), static_cast<unsigned>(xml.size()));
    zipCloseFileInZip(zip);
    return zipClose(zip, nullptr) == ZIP_OK;
}

double importSeconds(const QString& path, int& added) {
    BenchPrompts prompts;
    SurfaceState surface;
    KeywordList list;
    QElapsedTimer timer;
    timer.start();
    List::ExcelToListview(list, path, prompts, surface);
    const double seconds = timer.nsecsElapsed() / 1e9;
    added = list.Count();
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("Spreadsheet import and export, %d keywords\n", Rows);

    KeywordList list;
    list.setHeaderData(0, Qt::Horizontal, QStringLiteral("Keyword/s"));
    for (int k = 1; k <= Rows; ++k)
        list.add(keyword(k));
    BenchPrompts prompts;
    prompts.savePath = dir.filePath(QStringLiteral("export.xlsx"));
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton14_Click"));
    QElapsedTimer timer;
    timer.start();
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);
    const double exportSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("export .xlsx (Save List To Excel File): %.3f s, %lld bytes\n", exportSeconds,
                static_cast<long long>(QFile(prompts.savePath).size()));

    int added = 0;
    double s = importSeconds(prompts.savePath, added);
    std::printf("import .xlsx (whole column A):           %.3f s, %d entries\n", s, added);

    const QString ods = dir.filePath(QStringLiteral("import.ods"));
    if (writeOds(ods)) {
        s = importSeconds(ods, added);
        std::printf("import .ods  (whole column A):           %.3f s, %d entries\n", s, added);
    }

    const QString csv = dir.filePath(QStringLiteral("import.csv"));
    QFile out(csv);
    if (out.open(QIODevice::WriteOnly)) {
        QTextStream text(&out);
        for (int k = 1; k <= Rows; ++k)
            text << keyword(k) << ",x\r\n";
        text.flush();
        out.close();
        s = importSeconds(csv, added);
        std::printf("import .csv  (whole column A):           %.3f s, %d entries\n", s, added);
    }

    // A full-height sheet: the header and 1,048,575 keywords fill every row of column A.
    KeywordList full;
    full.setHeaderData(0, Qt::Horizontal, QStringLiteral("Keyword/s"));
    std::vector<QString> keywords;
    keywords.reserve(SheetLimits::Rows - 1);
    for (int k = 1; k < SheetLimits::Rows; ++k)
        keywords.push_back(keyword(k));
    full.appendMany(std::move(keywords));
    prompts.savePath = dir.filePath(QStringLiteral("full.xlsx"));
    SpreadsheetCommands::SaveListToExcelFile(full, prompts, trap);
    full.clear();
    s = importSeconds(prompts.savePath, added);
    std::printf("import .xlsx of %d rows (whole column A): %.3f s, %d entries, %lld bytes\n",
                SheetLimits::Rows, s, added, static_cast<long long>(QFile(prompts.savePath).size()));
    return 0;
}
