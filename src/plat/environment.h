// The process environment: setting a variable (reading one is the C library's getenv).
#ifndef VARURUROR_PLAT_ENVIRONMENT_H
#define VARURUROR_PLAT_ENVIRONMENT_H

namespace plat {

// Sets a variable from an entry "NAME=value", as _putenv does: the entry is copied, so the
// caller may reuse its buffer. False when the entry has no name or the system refuses.
bool PutEnvironment(char const* entry);

}  // namespace plat

#endif
