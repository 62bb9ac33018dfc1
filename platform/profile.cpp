// Private-profile files: reads from a parsed copy, writes by locked
// read-modify-rename.
#include "profile.h"

#include "debug_output.h"
#include "error_codes.h"
#include "file_io.h"
#include "unique_fd.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumarc::platform {
namespace {

namespace fs = std::filesystem;

bool hasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A symbolic link is followed, so the rename replaces the file it names and
// not the link.
fs::path writeTarget(const fs::path& path)
{
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec)
            return resolved;
    }
    return path;
}

// Exclusive lock on a folder, held for one read-modify-rename. Locking the
// folder and not the file is what makes rename safe: the lock outlives the
// inode it would otherwise sit on.
class FolderLock {
public:
    static Result<FolderLock> take(const fs::path& folder)
    {
        UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd)
            return win32Error("open folder " + folder.string(), errno);
        while (::flock(fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                return win32Error("lock folder " + folder.string(), errno);
        }
        return FolderLock(std::move(fd));
    }

private:
    explicit FolderLock(UniqueFd fd) : m_fd(std::move(fd)) {}
    UniqueFd m_fd; // closing it releases the lock
};

fs::path temporaryName(const fs::path& target)
{
    static std::atomic<unsigned> counter{0};
    return target.parent_path() / ("." + target.filename().string() + "." +
                                   std::to_string(::getpid()) + "." +
                                   std::to_string(counter.fetch_add(1)) + ".tmp");
}

// Replaces target by a complete new file holding bytes; keeps the old
// file's permission bits.
Status replaceFile(const fs::path& target, std::string_view bytes)
{
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    const fs::path temp = temporaryName(target);
    UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd)
        return win32Error("create " + temp.string(), errno);
    Status written = writeAll(fd.get(), bytes, temp.string());
    if (written && existed && ::fchmod(fd.get(), old.st_mode & 07777) != 0)
        written = win32Error("chmod " + temp.string(), errno);
    if (written && ::close(fd.release()) != 0)
        written = win32Error("close " + temp.string(), errno);
    if (written && ::rename(temp.c_str(), target.c_str()) != 0)
        written = win32Error("rename to " + target.string(), errno);
    if (!written)
        ::unlink(temp.c_str());
    return written;
}

Error refusedInput(const fs::path& path)
{
    return Error{win32::kInvalidParameter,
                 "write " + path.string() +
                     ": a name or value holds a line break, NUL or a character its position "
                     "forbids"};
}

} // namespace

Profile::Profile(std::filesystem::path path) : m_path(std::move(path)) {}

Result<IniDocument> Profile::readDocument() const
{
    auto content = readWholeFile(m_path, kMaxProfileFileSize);
    if (!content) {
        if (content.error().code == win32::kFileNotFound ||
            content.error().code == win32::kPathNotFound)
            return IniDocument{};
        return content.error();
    }
    return IniDocument::parse(*content);
}

IniDocument Profile::load() const
{
    auto doc = readDocument();
    if (!doc) {
        debugOutput("profile: " + doc.error().text + "\n");
        return {};
    }
    return std::move(*doc);
}

size_t Profile::readString(std::string_view section, std::string_view key,
                           std::string_view fallback, char* out, size_t capacity) const
{
    if (out == nullptr || capacity == 0)
        return 0;
    return readStringFrom(load(), section, key, fallback, out, capacity);
}

size_t readStringFrom(const IniDocument& doc, std::string_view section, std::string_view key,
                      std::string_view fallback, char* out, size_t capacity)
{
    if (out == nullptr || capacity == 0)
        return 0;
    const std::string value = readStringFrom(doc, section, key, fallback);
    const size_t n = std::min(value.size(), capacity - 1);
    std::memcpy(out, value.data(), n);
    out[n] = '\0';
    return n;
}

std::string readStringFrom(const IniDocument& doc, std::string_view section,
                           std::string_view key, std::string_view fallback)
{
    if (auto value = doc.value(section, key))
        return std::move(*value);
    // Unlike a value in the file, a default keeps its leading blanks and its
    // quotes; only trailing blanks go.
    if (const size_t nul = fallback.find('\0'); nul != std::string_view::npos)
        fallback = fallback.substr(0, nul);
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t'))
        fallback.remove_suffix(1);
    return std::string(fallback);
}

uint32_t readIntFrom(const IniDocument& doc, std::string_view section, std::string_view key,
                     int32_t fallback)
{
    const auto value = doc.value(section, key);
    if (!value || value->empty())
        return static_cast<uint32_t>(fallback);
    return parseProfileInt(*value);
}

std::string Profile::readString(std::string_view section, std::string_view key,
                                std::string_view fallback) const
{
    return readStringFrom(load(), section, key, fallback);
}

uint32_t Profile::readInt(std::string_view section, std::string_view key, int32_t fallback) const
{
    return readIntFrom(load(), section, key, fallback);
}

IniDocument Profile::snapshot() const
{
    return load();
}

std::vector<ProfileEntry> Profile::readSection(std::string_view section) const
{
    auto entries = load().section(section);
    return entries ? std::move(*entries) : std::vector<ProfileEntry>{};
}

std::vector<std::string> Profile::sectionNames() const
{
    return load().sectionNames();
}

template <class Edit> Status Profile::modify(std::string_view what, Edit edit)
{
    const fs::path target = writeTarget(m_path);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    auto lock = FolderLock::take(folder);
    if (!lock)
        return lock.error();

    std::string content;
    if (auto read = readWholeFile(target, kMaxProfileFileSize))
        content = std::move(*read);
    else if (read.error().code != win32::kFileNotFound)
        return read.error(); // never replace a file we could not read

    IniDocument doc = IniDocument::parse(content);
    if (!edit(doc))
        return {};
    const std::string bytes = doc.serialize();
    // A file its own readers would refuse is not written.
    if (bytes.size() > kMaxProfileFileSize)
        return Error{win32::kFileTooLarge, std::string(what) + " " + target.string() + ": " +
                                               std::to_string(bytes.size()) +
                                               " bytes would exceed the limit of " +
                                               std::to_string(kMaxProfileFileSize)};
    if (auto replaced = replaceFile(target, bytes); !replaced) {
        debugOutput("profile: " + std::string(what) + " failed: " + replaced.error().text + "\n");
        return replaced;
    }
    return {};
}

Status Profile::writeString(std::string_view section, std::string_view key,
                            std::string_view value)
{
    if (!validSectionName(section) || !validKeyName(key) || !validValue(value))
        return refusedInput(m_path);
    return modify("write", [&](IniDocument& doc) { return doc.setValue(section, key, value); });
}

Status Profile::writeStrings(std::string_view section, std::span<const KeyValue> values)
{
    if (!validSectionName(section))
        return refusedInput(m_path);
    for (const auto& [key, value] : values)
        if (!validKeyName(key) || !validValue(value))
            return refusedInput(m_path);
    return modify("write", [&](IniDocument& doc) {
        bool changed = false;
        for (const auto& [key, value] : values)
            changed = doc.setValue(section, key, value) || changed;
        return changed;
    });
}

Status Profile::writeStringIfMissing(std::string_view section, std::string_view key,
                                     std::string_view value)
{
    if (!validSectionName(section) || !validKeyName(key) || !validValue(value))
        return refusedInput(m_path);
    return modify("write", [&](IniDocument& doc) {
        return !doc.value(section, key).has_value() && doc.setValue(section, key, value);
    });
}

Status Profile::deleteKey(std::string_view section, std::string_view key)
{
    return modify("delete", [&](IniDocument& doc) { return doc.removeKey(section, key); });
}

Status Profile::eraseSection(std::string_view section)
{
    return modify("erase", [&](IniDocument& doc) { return doc.eraseSection(section); });
}

Status Profile::writeSection(std::string_view section, const std::vector<ProfileEntry>& entries)
{
    bool valid = validSectionName(section);
    for (const auto& entry : entries)
        valid = valid && validKeyName(entry.key) && validValue(entry.value);
    if (!valid)
        return refusedInput(m_path);
    return modify("write section",
                  [&](IniDocument& doc) { return doc.replaceSection(section, entries); });
}

Status Profile::edit(const std::function<bool(IniDocument&)>& change)
{
    return modify("edit", [&](IniDocument& doc) { return change(doc); });
}

Status Profile::flush() const
{
    const fs::path target = writeTarget(m_path);
    UniqueFd file(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file)
        return errno == ENOENT ? Status{} : Status{win32Error("flush " + target.string(), errno)};
    if (::fsync(file.get()) != 0)
        return win32Error("fsync " + target.string(), errno);
    fs::path folder = target.parent_path();
    UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir && ::fsync(dir.get()) != 0 && errno != EINVAL)
        return win32Error("fsync folder " + folder.string(), errno);
    return {};
}

uint32_t parseProfileInt(std::string_view text)
{
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    uint32_t base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint32_t result = 0;
    for (const char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            break;
        result = result * base + digit; // wraps modulo 2^32, as the original does
    }
    return negative ? 0u - result : result;
}

bool validSectionName(std::string_view name)
{
    return !hasLineBreakOrNul(name) && name.find(']') == std::string_view::npos;
}

bool validKeyName(std::string_view key)
{
    const std::string_view trimmed = trimBlanks(key);
    return !hasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
           (trimmed.empty() || (trimmed.front() != ';' && trimmed.front() != '['));
}

bool validValue(std::string_view value)
{
    return !hasLineBreakOrNul(value);
}

} // namespace lumarc::platform
