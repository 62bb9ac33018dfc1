// Building management requests.
#include "requests.h"

#include "shared/message_header.h"

#include <algorithm>
#include <cstring>

namespace lumarc::mgmt {

std::vector<uint8_t> makeRequest(uint32_t code, size_t length)
{
    std::vector<uint8_t> request(std::max(length, shared::kHeaderSize), 0);
    shared::writeHeader(request, {static_cast<uint32_t>(length), shared::kPcMagic, code, 0});
    return request;
}

std::span<uint8_t> payloadOf(std::vector<uint8_t>& request)
{
    return std::span(request).subspan(shared::kHeaderSize);
}

void putText(std::span<uint8_t> field, const char* text)
{
    std::fill(field.begin(), field.end(), 0);
    if (text == nullptr || field.empty())
        return;
    const size_t n = strnlen(text, field.size() - 1);
    std::memcpy(field.data(), text, n);
}

void putCredentials(std::span<uint8_t> payload, const char* name, const char* pin)
{
    putText(payload.subspan(0, kNameField), name);
    putText(payload.subspan(kNameField, kPinField), pin);
}

void putDatabaseKey(std::span<uint8_t> field, const char* key)
{
    std::fill(field.begin(), field.end(), ' ');
    if (key == nullptr)
        return;
    for (size_t i = 0; i < field.size() && key[i] != '\0'; ++i)
        field[i] = static_cast<uint8_t>(key[i]);
}

uint32_t flashPaddedLength(uint32_t length)
{
    return (length + 3u) & ~3u;
}

void sealFlashRequest(std::span<uint8_t> request)
{
    constexpr size_t kChecksumOffset = 80;
    shared::writeLe32(request, kChecksumOffset, 0xFFFFFFFFu);
    uint32_t sum = 0;
    for (size_t offset = kChecksumOffset; offset + 4 <= request.size(); offset += 4)
        sum += shared::readLe32(request, offset);
    if (sum != 0)
        shared::writeLe32(request, kChecksumOffset, ~sum);
}

std::vector<uint8_t> userEntryRequest(uint32_t code, const UserEntryFields& fields, bool admin)
{
    const size_t payload = admin ? kAdminUserEntrySize : kUserEntrySize;
    std::vector<uint8_t> request = makeRequest(code, shared::kHeaderSize + payload);
    const auto p = payloadOf(request);
    putText(p.subspan(0, kNameField), fields.user);
    putText(p.subspan(32, kPinField), fields.newPin);
    putText(p.subspan(64, kNameField), fields.loginUser);
    putText(p.subspan(96, kPinField), fields.loginPin);
    putText(p.subspan(128, kHostField), fields.host);
    if (admin) {
        putText(p.subspan(384, kNameField), "root");
        putText(p.subspan(416, kPinField), fields.adminPin);
    }
    return request;
}

} // namespace lumarc::mgmt
