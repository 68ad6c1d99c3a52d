#include "fetch/sources/adapters.h"

#include "fetch/sources/commons.h"
#include "fetch/sources/contextualweb.h"
#include "fetch/sources/openverse.h"
#include "fetch/sources/pexels.h"
#include "fetch/sources/pixabay.h"

namespace Sources {

std::unique_ptr<ImageSource> makeAdapter(Source source) {
    switch (source) {
    case Source::Openverse:
        return std::make_unique<OpenverseSource>();
    case Source::Commons:
        return std::make_unique<CommonsSource>();
    case Source::Pexels:
        return std::make_unique<PexelsSource>();
    case Source::Pixabay:
        return std::make_unique<PixabaySource>();
    case Source::Free:
        return nullptr;
    case Source::ContextualWeb:
        break;
    }
    return std::make_unique<ContextualWebSource>();
}

} // namespace Sources
