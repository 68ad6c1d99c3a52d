#pragma once

#include "fetch/sources/source.h"

namespace Sources {

// Openverse: openly licensed pictures gathered from many sites, searched without a key.
// GET https://api.openverse.org/v1/images/?q=&page=&page_size=[&license_type=|&license=]
// The licence choice is asked for: license_type=commercial, license_type=commercial,modification or
// license=cc0,pdm.
class OpenverseSource : public ImageSource {
public:
    static constexpr const char* OwnHost = "api.openverse.org";
    // Without a key the service takes at most 20 results a page.
    static constexpr int LargestPageSize = 20;

    Source source() const override { return Source::Openverse; }
    int smallestPageSize() const override { return 1; }
    int largestPageSize() const override { return LargestPageSize; }
    SourceRequest request(const PageQuery& query) const override;
    SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const override;

    // The licence as people write it: "by-sa" and "2.0" -> "CC BY-SA 2.0", "cc0" -> "CC0 1.0",
    // "pdm" -> "Public Domain Mark 1.0".
    static QString licenceName(const QString& licence, const QString& version);
};

} // namespace Sources
