#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::host
{

// What a VST3 bundle's factory tells a host before it creates anything.
struct ClassInfo
{
    std::array<std::uint8_t, 16> cid {};
    std::string category;
    std::string name;
    std::string subCategories;
    std::string vendor;
    std::string version;
    std::string sdkVersion;
    std::int32_t cardinality = 0;
    std::uint32_t classFlags = 0;
};

struct FactoryInfo
{
    std::string vendor;
    std::string url;
    std::string email;
    std::int32_t flags = 0;
    std::vector<ClassInfo> classes;
};

// The shared object inside a bundle: <bundle>/Contents/x86_64-linux/<name>.so
std::string bundleBinaryPath(const std::string& bundlePath);

// Loads the bundle's binary, reads its factory and unloads it again.
// Returns false with a readable reason when the bundle cannot be read.
bool readFactoryInfo(const std::string& bundlePath, FactoryInfo& info, std::string& error);

std::string formatClassId(const std::array<std::uint8_t, 16>& cid);

} // namespace quillon::host
