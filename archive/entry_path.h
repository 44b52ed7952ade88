// An entry's path as each family of exports reports it. The entry keeps
// the archive's own bytes (entry.h); the conversion happens here, at the
// boundary, and the path is made safe again afterwards, because a code
// page's best-fit mapping can turn a character into '.' or '\'.
#pragma once

#include <string>

#include "archive/entry.h"

namespace kiv {

// The path in the host's ANSI code page, for an entry whose pathForm is
// kPathUtf8 (a kPathHost path is reported as it is stored).
std::string ansiPath(const Entry& e);

// The path in UTF-16, without loss: UTF-8 paths decoded (each byte of an
// invalid sequence becomes U+FFFD), others converted from the host's code
// page. On Win32 those are the code-page bytes of an older archive, read in
// `legacyCodePage` (0: the ANSI code page); POSIX has converted them to
// UTF-8 already.
std::u16string widePath(const Entry& e, unsigned legacyCodePage = 0);

}  // namespace kiv
