#pragma once

#include "fetch/sources/source.h"

namespace Sources {

// Wikimedia Commons: the media collection of the Wikipedias, searched without a key. Pages are
// counted by the offset of their first result; the answer says where the next page starts.
// GET https://commons.wikimedia.org/w/api.php?action=query&format=json&formatversion=2
//     &generator=search&gsrsearch=filetype:bitmap KEYWORD&gsrnamespace=6&gsrlimit=&gsroffset=
//     &prop=imageinfo&iiprop=url|size|mime|extmetadata&iiextmetadatafilter=ObjectName|...
// The service cannot search by licence: each result is judged by its licence's fields.
class CommonsSource : public ImageSource {
public:
    static constexpr const char* OwnHost = "commons.wikimedia.org";
    // The extended metadata asked for: the title, the creator, and the licence with its address, whether
    // it asks for credit, and whether the file is free at all. The others (descriptions, categories)
    // can run to kilobytes a file.
    static constexpr const char* MetadataFields =
        "ObjectName|Artist|LicenseShortName|LicenseUrl|License|AttributionRequired|NonFree";
    // The service takes up to 500; every result brings its metadata, so pages stay small.
    static constexpr int LargestPageSize = 50;

    Source source() const override { return Source::Commons; }
    int smallestPageSize() const override { return 1; }
    int largestPageSize() const override { return LargestPageSize; }
    SourceRequest request(const PageQuery& query) const override;
    SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const override;
};

} // namespace Sources
