#include "Resources.h"

#include <map>
#include <mutex>
#include <string>

namespace orvelle {

namespace {

std::string foldCase(const char* name)
{
    std::string key = name;
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

// Function-local statics, so that registrations from other files' static objects
// work whatever the order of initialisation.
std::mutex& registryLock()
{
    static std::mutex m;
    return m;
}

std::map<std::string, ResourceBlock>& registry()
{
    static std::map<std::string, ResourceBlock> r;
    return r;
}

} // namespace

void RegisterResource(const char* name, const void* data, size_t size)
{
    if (name == nullptr || data == nullptr)
        return;
    std::lock_guard<std::mutex> lock(registryLock());
    registry()[foldCase(name)] = ResourceBlock{static_cast<const uint8_t*>(data), size};
}

void UnregisterResource(const char* name)
{
    if (name == nullptr)
        return;
    std::lock_guard<std::mutex> lock(registryLock());
    registry().erase(foldCase(name));
}

ResourceBlock FindResource(const char* name)
{
    if (name == nullptr)
        return {nullptr, 0};
    std::lock_guard<std::mutex> lock(registryLock());
    auto it = registry().find(foldCase(name));
    return it == registry().end() ? ResourceBlock{nullptr, 0} : it->second;
}

} // namespace orvelle
