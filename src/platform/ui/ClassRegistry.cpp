#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "foundation/Print.h"
#include "ui/UIApplication.h"

namespace {
struct Entry {
    ClassRegistry::Factory create;
    // The typed registration's converter; null for an untyped one.
    std::shared_ptr<void> (*caster)(const std::shared_ptr<void>&, std::type_index) = nullptr;
};

// Registrations run from static initialisers in any order, so the tables are made on
// first use rather than being globals.
struct Tables {
    std::mutex mutex;
    std::map<std::string, Entry> byName;
    std::map<std::type_index, std::string> nameByType;
};
Tables& tables() {
    static Tables t;
    return t;
}

std::string demangled(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string result = status == 0 && readable ? readable : name;
    std::free(readable);
    return result;
}

void addEntry(const std::string& name, Entry entry) {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    if (t.byName.count(name))
        foundation::logError("ClassRegistry: '" + name + "' registered twice; the last one wins");
    t.byName[name] = std::move(entry);
}
} // namespace

void ClassRegistry::registerClass(const std::string& name, Factory factory) {
    addEntry(name, Entry{std::move(factory)});
}

void ClassRegistry::registerTyped(const std::string& name, std::type_index type, Factory factory,
                                  Caster caster) {
    addEntry(name, Entry{std::move(factory), caster});
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    t.nameByType.insert_or_assign(type, name);
}

std::shared_ptr<void> ClassRegistry::instantiate(const std::string& name) {
    Factory create;
    {
        auto& t = tables();
        std::lock_guard lock(t.mutex);
        auto it = t.byName.find(name);
        if (it == t.byName.end())
            return nullptr;
        create = it->second.create;
    }
    // Outside the lock: a constructor may itself look classes up.
    return create ? create() : nullptr;
}

std::shared_ptr<void> ClassRegistry::instantiateAs(const std::string& name, std::type_index base) {
    Factory create;
    Caster caster = nullptr;
    {
        auto& t = tables();
        std::lock_guard lock(t.mutex);
        auto it = t.byName.find(name);
        if (it == t.byName.end() || !it->second.caster)
            return nullptr;
        create = it->second.create;
        caster = it->second.caster;
    }
    auto object = create ? create() : nullptr;
    return object ? caster(object, base) : nullptr;
}

bool ClassRegistry::isRegistered(const std::string& name) {
    auto& t = tables();
    std::lock_guard lock(t.mutex);
    return t.byName.count(name) != 0;
}

std::string ClassRegistry::nameOf(std::type_index type) {
    {
        auto& t = tables();
        std::lock_guard lock(t.mutex);
        auto it = t.nameByType.find(type);
        if (it != t.nameByType.end())
            return it->second;
    }
    return demangled(type.name());
}
