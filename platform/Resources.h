#pragma once
// Named byte blocks of type "WAVE" compiled into the program, found by name as a
// module's resources are. The blocks are not copied: they must live as long as the
// program (static data).
#include <cstddef>
#include <cstdint>

namespace orvelle {

struct ResourceBlock {
    const uint8_t* data; // null: not found
    size_t size;
};

// Registers `data` (`size` bytes) under `name`; a block already registered under the
// same name is replaced. Names compare without regard to ASCII case, as resource names do.
void RegisterResource(const char* name, const void* data, size_t size);
// Removes the block registered under `name`; nothing when there is none.
void UnregisterResource(const char* name);
// The block registered under `name`, or {nullptr, 0}.
ResourceBlock FindResource(const char* name);

// Registers a block at start-up: `static ResourceRegistration r("NAME", bytes, sizeof bytes);`
struct ResourceRegistration {
    ResourceRegistration(const char* name, const void* data, size_t size) { RegisterResource(name, data, size); }
};

} // namespace orvelle
