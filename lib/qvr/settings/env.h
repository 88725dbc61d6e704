#pragma once
// Product folders and QVR_ variables: where every program of the system finds its files.
// Paths use '/'. Results live in per-thread buffers, valid until the thread's next call of
// the same operation.

// Access rights for util_CheckFileAccess, with the generic numbers.
inline constexpr unsigned kGenericRead = 0x80000000u;
inline constexpr unsigned kGenericWrite = 0x40000000u;
inline constexpr unsigned kGenericExecute = 0x20000000u;
inline constexpr unsigned kGenericAll = 0x10000000u;

// The value of the variable `name` ("QV4_" reads as "QVR_"): a "%\Hive\Key\Value%" value
// is looked up in the registry; unset, it is the root folder + "/" + the name without
// "QVR_" in upper case ("QVR_" alone: the root folder and "/"). Null with EINVAL for a name
// longer than 249 characters.
char* env_GetVariable(const char* name);
// env_GetVariable, except that REPLAY_OPTIONS, EXPORTED_DATA and EXPORTED_IMAGES are created
// when missing and, when the user may not write there, replaced by the per-user folder
// ${XDG_DATA_HOME:-~/.local/share}/Brevantic/<product>/<name>.
char* env_GetProductFolder(const char* name);
// Root folder of the configured product.
const char* env_GetProductRootFolder();
// "/opt/" + product name, or the product key's "Root:" value.
const char* env_GetRootFolder(const char* product_name);
// The root of the file system: '/'.
char env_GetRootDrive();

// 1 when the process's user has the access (generic or file rights) to `path`, else 0.
int util_CheckFileAccess(const char* path, unsigned access);
