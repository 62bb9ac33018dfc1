// Private-profile (ini) files on a whole path.
//
// Reads never fail: a missing or unreadable file (or one larger than
// kMaxProfileFileSize), section or key yields the default. Every write is
// one atomic step across processes and threads: it takes an exclusive lock
// on the file's folder, reads the file, changes it in memory and replaces it
// by renaming a complete new copy over it. So a
// reader never sees a half-written file, and concurrent writers of different
// keys never lose each other's keys. Bytes the write did not touch are kept
// exactly, damaged lines included.
//
// Unlike the Windows functions, a name or value containing a line break (or
// NUL) is refused, since it would inject lines; so are a key containing '='
// or beginning with ';' or '[', and a section name containing ']'.
//
// Any thread may call any member; writes block only while another writer of
// a file in the same folder holds the lock (milliseconds).
#pragma once

#include "ini_document.h"
#include "result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace lumarc::platform {

// The largest ini file read or written. The system's own files hold a few
// sections of short keys (a settings file with every unit registered is a
// few KiB); 4 MiB is a thousand times that, yet small enough that a device
// or runaway file given as a profile is refused quickly and cheaply. A file
// above it reads as missing, and writes to it are refused.
constexpr size_t kMaxProfileFileSize = 4u * 1024 * 1024;

class Profile {
public:
    explicit Profile(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_path; }

    // Copies the value (or the default, see readStringFrom) into out:
    // at most capacity-1 bytes and a NUL. Returns the number of bytes copied
    // before the NUL; with capacity 0 nothing is written and 0 is returned.
    size_t readString(std::string_view section, std::string_view key, std::string_view fallback,
                      char* out, size_t capacity) const;

    // The whole value, or the default when the key is missing.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback = "") const;

    // The value read as an integer the way the Windows function reads it:
    // an optional sign, then decimal digits or 0x and hexadecimal digits,
    // stopping at the first other character, modulo 2^32. The default when
    // the key is missing or its value is empty.
    uint32_t readInt(std::string_view section, std::string_view key, int32_t fallback) const;

    // The key lines of a section; empty when the section is missing.
    std::vector<ProfileEntry> readSection(std::string_view section) const;

    // The names of the file's sections in file order.
    std::vector<std::string> sectionNames() const;

    // The whole file as read now, for callers that read several keys of one
    // consistent state (see readStringFrom and readIntFrom).
    IniDocument snapshot() const;

    // The whole file as read now, for callers that must tell a file they
    // could not read from an empty one: a missing file is an empty
    // document; an unreadable file or one above kMaxProfileFileSize is an
    // Error naming the file.
    Result<IniDocument> readDocument() const;

    // Writes fail without touching the file when it cannot be read or is
    // above kMaxProfileFileSize, and when the change would take it above.

    // Creates the file, the section and the key as needed.
    Status writeString(std::string_view section, std::string_view key, std::string_view value);
    // Several keys of one section in one atomic step, in the given order;
    // what a reader sees is the file before or after all of them.
    using KeyValue = std::pair<std::string_view, std::string_view>;
    Status writeStrings(std::string_view section, std::span<const KeyValue> values);
    // Writes the value only when the key is missing, in the same atomic step
    // (a value another process wrote meanwhile is never overwritten).
    Status writeStringIfMissing(std::string_view section, std::string_view key,
                                std::string_view value);
    // Deleting a key or section that is not there succeeds.
    Status deleteKey(std::string_view section, std::string_view key);
    Status eraseSection(std::string_view section);
    // Replaces the section's lines where they stand, or appends the section.
    Status writeSection(std::string_view section, const std::vector<ProfileEntry>& entries);
    // Several changes in one atomic step: change runs on the file's current
    // contents and returns whether it changed them; nothing is written when
    // it returns false. It must not touch this file by other means.
    Status edit(const std::function<bool(IniDocument&)>& change);

    // Makes the file and its folder entry durable (fsync of both). Writes are
    // visible to other processes as soon as they return; flush is about
    // power loss. A missing file has nothing to flush and succeeds.
    Status flush() const;

private:
    IniDocument load() const;
    template <class Edit> Status modify(std::string_view what, Edit edit);

    std::filesystem::path m_path;
};

// Parses an integer as the Windows profile function does (see readInt).
uint32_t parseProfileInt(std::string_view text);

// readString and readInt over a snapshot. A default is taken as given up to
// a NUL byte, less its trailing blanks and tabs: its leading blanks and any
// quotes are kept, as the Windows function does.
std::string readStringFrom(const IniDocument& doc, std::string_view section,
                           std::string_view key, std::string_view fallback);
size_t readStringFrom(const IniDocument& doc, std::string_view section, std::string_view key,
                      std::string_view fallback, char* out, size_t capacity);
uint32_t readIntFrom(const IniDocument& doc, std::string_view section, std::string_view key,
                     int32_t fallback);

// Whether a name or value may be written (see the file comment).
bool validSectionName(std::string_view name);
bool validKeyName(std::string_view key);
bool validValue(std::string_view value);

} // namespace lumarc::platform
