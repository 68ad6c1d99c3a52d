// The search answers of the public image sources (Openverse, Wikimedia Commons, Pexels, Pixabay), each
// at its own path and in its own shape, with results from the same catalogue as the hosted service's.
#pragma once

#include "replies.h"

namespace ImageService {

// The reply when `path` is one of the sources' search paths ("/v1/images/", "/w/api.php",
// "/v1/search", "/api/"); false for every other path.
bool sourceReply(const QString& path, const Request& request, const Settings& settings, Reply* reply);

} // namespace ImageService
