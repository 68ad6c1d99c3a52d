#pragma once

#include "fetch/sources/source.h"

namespace Sources {

// Pexels: free stock photos, searched with a free key sent as the Authorization header.
// GET https://api.pexels.com/v1/search?query=&page=&per_page=
class PexelsSource : public ImageSource {
public:
    static constexpr const char* OwnHost = "api.pexels.com";
    static constexpr int LargestPageSize = 80;
    // Every photo is under the same licence; the answer does not name it: it allows commercial use and
    // changes without credit, so every result fits every licence choice.
    static constexpr const char* Licence = "Pexels License";
    static constexpr const char* LicenceAddress = "https://www.pexels.com/license/";

    Source source() const override { return Source::Pexels; }
    int smallestPageSize() const override { return 1; }
    int largestPageSize() const override { return LargestPageSize; }
    SourceRequest request(const PageQuery& query) const override;
    SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const override;
};

} // namespace Sources
