// The registry: a per-user file of keys and values, for COM registrations.
//
// The file is <app-data>/Velorin/registry.ini, kept with the profile
// operations, so every change is one atomic step across processes. Its
// layout: one section per key, named by the key's full path with
// backslashes ("[HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32]"); the
// default value is the entry "@", a named value the entry of its own name
// ("ThreadingModel=both"); an empty key is an empty section. A value whose
// text the ini reading rules would change (blanks at either end, a pair of
// quotes around it) is written in double quotes, so it reads back exactly.
//
// Two roots exist, HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE. A key is named
// below its root by its path ("CLSID\{...}\InprocServer32"); names compare
// without regard to ASCII case. Creating a key creates its missing parents.
// Key names are refused when empty, when they have blanks at either end, or
// when they hold ']', a line break or NUL; value names when the ini rules
// could not keep them ('=', a leading ';' or '[', blanks at either end) and
// the name "@", which is the default value's.
//
// Reads never fail: a missing file, key or value reads as missing. Any
// thread may call any member.
#pragma once

#include "ini_document.h"
#include "profile.h"
#include "result.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarc::platform {

enum class RegistryRoot { ClassesRoot, LocalMachine };

// "HKEY_CLASSES_ROOT" or "HKEY_LOCAL_MACHINE".
std::string_view registryRootName(RegistryRoot root);

// <app-data>/Velorin/registry.ini
std::filesystem::path registryFilePath();

struct RegistryValue {
    std::string name; // "" for the default value
    std::string data;
    bool operator==(const RegistryValue&) const = default;
};

// The keys of a registry document in memory: what Registry reads from the
// file, and what one atomic update changes.
class RegistryKeys {
public:
    explicit RegistryKeys(IniDocument& document) : m_document(document) {}

    // A key exists when its section or a section below it exists; the roots
    // always exist.
    bool exists(RegistryRoot root, std::string_view key) const;
    // A value of the key; name "" is the default value.
    std::optional<std::string> value(RegistryRoot root, std::string_view key,
                                     std::string_view name = {}) const;
    // The names of the key's direct subkeys, each once, in file order.
    std::vector<std::string> subkeys(RegistryRoot root, std::string_view key) const;
    // The key's values, each name once (the first of duplicates).
    std::vector<RegistryValue> values(RegistryRoot root, std::string_view key) const;

    Status create(RegistryRoot root, std::string_view key);
    Status setValue(RegistryRoot root, std::string_view key, std::string_view name,
                    std::string_view data);
    // Removing a value or key that is not there succeeds.
    Status deleteValue(RegistryRoot root, std::string_view key, std::string_view name);
    // The key with everything below it; a root cannot be removed.
    Status deleteTree(RegistryRoot root, std::string_view key);

    bool changed() const { return m_changed; }

private:
    IniDocument& m_document;
    bool m_changed = false;
};

class Registry {
public:
    Registry(); // the file at registryFilePath()
    explicit Registry(std::filesystem::path file);

    const std::filesystem::path& path() const { return m_profile.path(); }

    // Reads of the file as it is now (see RegistryKeys).
    bool keyExists(RegistryRoot root, std::string_view key) const;
    std::optional<std::string> value(RegistryRoot root, std::string_view key,
                                     std::string_view name = {}) const;
    std::vector<std::string> subkeys(RegistryRoot root, std::string_view key) const;
    std::vector<RegistryValue> values(RegistryRoot root, std::string_view key) const;

    // Single changes, each one atomic step.
    Status createKey(RegistryRoot root, std::string_view key);
    Status setValue(RegistryRoot root, std::string_view key, std::string_view name,
                    std::string_view data);
    Status deleteValue(RegistryRoot root, std::string_view key, std::string_view name);
    Status deleteTree(RegistryRoot root, std::string_view key);

    // Several changes as one atomic step: change runs on the file's current
    // keys; when it fails, the file stays as it was and its error is
    // returned. It must not use this registry by other means meanwhile.
    Status update(const std::function<Status(RegistryKeys&)>& change);

private:
    IniDocument read() const;

    Profile m_profile;
};

} // namespace lumarc::platform
