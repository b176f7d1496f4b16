// The one include through which every Part reaches the host.
//
// On Windows this is the real API. Elsewhere it is our own declaration of
// exactly the subset of calls, types and constants that the stub uses; the
// implementation lives in platform/posix/. Names, values and behaviour follow
// what the stub needs of each call, nothing more.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shlobj.h>
#include <bcrypt.h>
#else
#include "posix/winapi.h"
#endif
