#pragma once
// Named POSIX shared-memory objects. Names are the system's object names (for example
// "Global\dm_AB"); the IPC prefix is added here. Opening never creates. Creation is atomic:
// the object is built and filled under a temporary name and then linked to its final name,
// so no process ever sees a half-filled object.
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A read-write shared view; unmapped on destruction unless released.
class ShmMapping {
  public:
    ShmMapping() = default;
    ShmMapping(void* base, size_t size) : base_(base), size_(size) {}
    ~ShmMapping();
    ShmMapping(ShmMapping&& other) noexcept;
    ShmMapping& operator=(ShmMapping&& other) noexcept;
    ShmMapping(const ShmMapping&) = delete;
    ShmMapping& operator=(const ShmMapping&) = delete;

    void* base() const { return base_; }
    size_t size() const { return size_; }
    std::span<std::byte> bytes() const { return {static_cast<std::byte*>(base_), size_}; }
    // Keeps the view mapped for the life of the process and gives up ownership.
    void* release();

  private:
    void* base_ = nullptr;
    size_t size_ = 0;
};

// An opened object, before it is mapped: lets the caller read a header and check the real
// size before choosing how much to map.
class ShmObject {
  public:
    // Opens an existing object read-write. nullopt with errno ENOENT when it does not exist.
    static std::optional<ShmObject> open(std::string_view name);

    ShmObject() = default;
    ~ShmObject();
    ShmObject(ShmObject&& other) noexcept;
    ShmObject& operator=(ShmObject&& other) noexcept;
    ShmObject(const ShmObject&) = delete;
    ShmObject& operator=(const ShmObject&) = delete;

    // Real size of the object, from fstat.
    size_t size() const { return size_; }
    // Copies `out.size()` bytes at `offset`; false (errno EINVAL) when beyond the object.
    bool read_at(std::span<std::byte> out, size_t offset) const;
    // Maps the first `length` bytes; refused (errno EINVAL) when the object is smaller.
    std::optional<ShmMapping> map(size_t length) const;

  private:
    int fd_ = -1;
    size_t size_ = 0;
};

// Creates `name` with `size` zero bytes, lets `fill` write its initial contents, then links
// it into place. nullopt with errno EEXIST when the name exists (nothing is changed then).
// `mode` is applied exactly, whatever the umask.
std::optional<ShmMapping> shm_object_create(std::string_view name, size_t size, mode_t mode,
                                            const std::function<void(std::span<std::byte>)>& fill);

// Removes the name (mappings stay valid). 0, or -1 with errno set.
int shm_object_remove(std::string_view name);

// Names (prefix removed) of the objects whose names start with prefix + `start`, sorted.
std::vector<std::string> shm_object_list(std::string_view start = {});

// Removes every object under this process's prefix, including temporaries a crashed
// creator left behind. Refused (-1, EPERM) when the prefix is empty, so a real installation
// is never touched. The number removed, or -1.
int shm_object_remove_prefixed();

}  // namespace platform
