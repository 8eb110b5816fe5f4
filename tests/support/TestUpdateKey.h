#pragma once

// The TEST signing key of the stand-in vendor server: update-signing-TEST-ONLY-key.pem
// beside this file is its private half, public on purpose so that the tests, the demo
// and anyone trying the updates by hand can sign products. It is no release key: the
// program does not trust it unless told to through CORVEX_UPDATE_PUBLIC_KEYS or the
// "updatePublicKeys" preference.

#include <cstdlib>

namespace corvex::testing {

inline constexpr const char* testUpdatePublicKey = "ylGfWAyBKt0Afw5g+R7huNG4eN0MP4wnPhIoUWrIiZM=";
inline constexpr const char* testUpdateSigningKeyPath = CORVEX_TEST_UPDATE_SIGNING_KEY;

// Makes this process and the programs it starts trust products the stand-in server
// signs.
inline void trustTestUpdateKey()
{
    ::setenv("CORVEX_UPDATE_PUBLIC_KEYS", testUpdatePublicKey, 1);
}

} // namespace corvex::testing
