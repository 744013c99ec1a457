#include "FactoryInfo.h"

#include <pluginterfaces/base/ipluginbase.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>

namespace quillon::host
{
namespace
{
using ModuleEntryFunction = bool (*)(void*);
using ModuleExitFunction = bool (*)();
using GetFactoryFunction = Steinberg::IPluginFactory* (*)();

std::string copyText(const char* text, std::size_t capacity)
{
    std::size_t n = 0;
    while (n < capacity && text[n] != '\0')
        ++n;
    return std::string(text, n);
}

// Closes the library on every path out of readFactoryInfo.
struct LoadedModule
{
    void* handle = nullptr;
    ModuleExitFunction exit = nullptr;
    ~LoadedModule()
    {
        if (exit != nullptr)
            exit();
        if (handle != nullptr)
            dlclose(handle);
    }
};
} // namespace

std::string bundleBinaryPath(const std::string& bundlePath)
{
    const std::filesystem::path bundle(bundlePath);
    return (bundle / "Contents" / "x86_64-linux" / bundle.stem()).string() + ".so";
}

std::string formatClassId(const std::array<std::uint8_t, 16>& cid)
{
    std::string text;
    char byte[3];
    for (auto b : cid)
    {
        std::snprintf(byte, sizeof byte, "%02X", static_cast<unsigned>(b));
        text += byte;
    }
    return text;
}

bool readFactoryInfo(const std::string& bundlePath, FactoryInfo& info, std::string& error)
{
    const auto binary = bundleBinaryPath(bundlePath);
    if (!std::filesystem::is_regular_file(binary))
    {
        error = "no plug-in binary at " + binary;
        return false;
    }

    LoadedModule module;
    module.handle = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module.handle == nullptr)
    {
        error = std::string("cannot load ") + binary + ": " + dlerror();
        return false;
    }

    auto entry = reinterpret_cast<ModuleEntryFunction>(dlsym(module.handle, "ModuleEntry"));
    auto exit = reinterpret_cast<ModuleExitFunction>(dlsym(module.handle, "ModuleExit"));
    auto getFactory = reinterpret_cast<GetFactoryFunction>(dlsym(module.handle, "GetPluginFactory"));
    if (entry == nullptr || exit == nullptr || getFactory == nullptr)
    {
        error = binary + " does not export the VST3 entry points";
        return false;
    }
    if (!entry(module.handle))
    {
        error = "ModuleEntry failed for " + binary;
        return false;
    }
    module.exit = exit;

    Steinberg::IPluginFactory* factory = getFactory();
    if (factory == nullptr)
    {
        error = "GetPluginFactory returned nothing";
        return false;
    }

    Steinberg::PFactoryInfo factoryInfo {};
    factory->getFactoryInfo(&factoryInfo);
    info.vendor = copyText(factoryInfo.vendor, sizeof factoryInfo.vendor);
    info.url = copyText(factoryInfo.url, sizeof factoryInfo.url);
    info.email = copyText(factoryInfo.email, sizeof factoryInfo.email);
    info.flags = factoryInfo.flags;

    Steinberg::IPluginFactory2* factory2 = nullptr;
    factory->queryInterface(Steinberg::IPluginFactory2_iid, reinterpret_cast<void**>(&factory2));

    info.classes.clear();
    for (Steinberg::int32 i = 0; i < factory->countClasses(); ++i)
    {
        ClassInfo c;
        if (factory2 != nullptr)
        {
            Steinberg::PClassInfo2 ci {};
            factory2->getClassInfo2(i, &ci);
            std::copy(std::begin(ci.cid), std::end(ci.cid), c.cid.begin());
            c.category = copyText(ci.category, sizeof ci.category);
            c.name = copyText(ci.name, sizeof ci.name);
            c.subCategories = copyText(ci.subCategories, sizeof ci.subCategories);
            c.vendor = copyText(ci.vendor, sizeof ci.vendor);
            c.version = copyText(ci.version, sizeof ci.version);
            c.sdkVersion = copyText(ci.sdkVersion, sizeof ci.sdkVersion);
            c.cardinality = ci.cardinality;
            c.classFlags = ci.classFlags;
        }
        else
        {
            Steinberg::PClassInfo ci {};
            factory->getClassInfo(i, &ci);
            std::copy(std::begin(ci.cid), std::end(ci.cid), c.cid.begin());
            c.category = copyText(ci.category, sizeof ci.category);
            c.name = copyText(ci.name, sizeof ci.name);
            c.cardinality = ci.cardinality;
        }
        info.classes.push_back(c);
    }

    if (factory2 != nullptr)
        factory2->release();
    factory->release();
    return true;
}

} // namespace quillon::host
