#pragma once

namespace Main {

// True exactly once: on the first start for this user (the FirstTime mark is then written).
// A stored mark that reads as false counts as not yet started. Throws AppError when the stored
// mark is not a flag at all.
bool FirstTime();

// On the first start: stores a source that needs no key (Openverse), so that a new user's first
// run works without an account. A profile that names a source, or holds a key of the original
// service, keeps what it has; a settings file without a source still means the original service.
void ChooseFirstSource();

} // namespace Main
