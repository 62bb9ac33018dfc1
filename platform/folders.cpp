// Folder look-ups.
#include "folders.h"

#include "error_codes.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

namespace fs = std::filesystem;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

fs::path homeFolder()
{
    if (auto home = environment("HOME"); !home.empty())
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return "/";
}

// An XDG variable must hold an absolute path; anything else is ignored.
fs::path xdgFolder(const char* variable, const fs::path& fallback)
{
    const fs::path value = environment(variable);
    return value.is_absolute() ? value : fallback;
}

} // namespace

fs::path appDataFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", homeFolder() / ".config");
}

fs::path windowsFolder()
{
    if (const fs::path dir = environment("LUMARC_WINDOWS_DIR"); !dir.empty())
        return dir;
    return xdgFolder("XDG_DATA_HOME", homeFolder() / ".local" / "share") / "lumarc" / "windows";
}

fs::path systemFolder()
{
    return windowsFolder() / "system32";
}

fs::path userProfileFile()
{
    return windowsFolder() / "win.ini";
}

fs::path programFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path(ec) : exe.parent_path();
}

Result<fs::path> runtimeFolder()
{
    const fs::path runtime = environment("XDG_RUNTIME_DIR");
    const fs::path folder = runtime.is_absolute()
                                ? runtime / "lumarc"
                                : fs::path("/tmp") / ("lumarc-" + std::to_string(::getuid()));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return win32Error("create runtime folder " + folder.string(), errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return win32Error("stat runtime folder " + folder.string(), errno);
    // In /tmp anyone could have made the folder first: refuse one we do not
    // own or that others may write, or another user could forge our objects.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 0022) != 0)
        return Error{win32::kAccessDenied,
                     "runtime folder " + folder.string() + " is not a private folder of ours"};
    return folder;
}

Status ensureFolder(const fs::path& folder)
{
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return win32Error("create folder " + folder.string(), ec.value());
    return {};
}

} // namespace lumarc::platform
