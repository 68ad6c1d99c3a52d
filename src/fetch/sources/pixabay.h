#pragma once

#include "fetch/sources/source.h"

namespace Sources {

// Pixabay: free photos, searched with a free key. The key is part of the address, which therefore
// reaches curl only on its standard input.
// GET https://pixabay.com/api/?key=&q=&page=&per_page=&image_type=photo
class PixabaySource : public ImageSource {
public:
    static constexpr const char* OwnHost = "pixabay.com";
    static constexpr int SmallestPageSize = 3;
    static constexpr int LargestPageSize = 200;
    // Every picture is under the same licence; the answer does not name it: it allows commercial use and
    // changes without credit, so every result fits every licence choice.
    static constexpr const char* Licence = "Pixabay Content License";
    static constexpr const char* LicenceAddress = "https://pixabay.com/service/license-summary/";

    Source source() const override { return Source::Pixabay; }
    int smallestPageSize() const override { return SmallestPageSize; }
    int largestPageSize() const override { return LargestPageSize; }
    SourceRequest request(const PageQuery& query) const override;
    // The total is "totalHits", the results the service lets a search reach (500 at most), not
    // "total", all that match.
    SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const override;
};

} // namespace Sources
