// Test support: a temporary folder, and the environment pointed at it so
// that no test touches the user's real folders.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>
#include <string>
#include <unistd.h>

namespace lumarc::testing {

class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumarc-test-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Points the application-data, Windows and runtime folders into a temporary
// folder for the life of the object.
class SandboxEnvironment {
public:
    SandboxEnvironment()
    {
        for (const char* name : kVariables) {
            const char* old = std::getenv(name);
            m_saved.push_back(old ? std::optional<std::string>(old) : std::nullopt);
        }
        std::filesystem::create_directories(m_root / "config");
        std::filesystem::create_directories(m_root / "run");
        ::setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        ::setenv("LUMARC_WINDOWS_DIR", (m_root / "windows").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
    }
    ~SandboxEnvironment()
    {
        for (size_t i = 0; i < std::size(kVariables); ++i) {
            if (m_saved[i])
                ::setenv(kVariables[i], m_saved[i]->c_str(), 1);
            else
                ::unsetenv(kVariables[i]);
        }
    }
    const std::filesystem::path& root() const { return m_root.path(); }

private:
    static constexpr const char* kVariables[] = {"XDG_CONFIG_HOME", "LUMARC_WINDOWS_DIR",
                                                 "XDG_RUNTIME_DIR"};
    TempFolder m_root;
    std::vector<std::optional<std::string>> m_saved;
};

} // namespace lumarc::testing
