#pragma once
// Test hooks of the password cipher.

// true: crypt_IsAvailable gives 0 and every cipher call fails, as on a host whose libcrypto
// lacks MD5 or RC4; false: back to the real state.
void crypt_SetUnavailableForTest(bool unavailable);
