#include "StateSerializer.h"

#include <bit>
#include <cstring>

namespace vesk {

static_assert(std::endian::native == std::endian::little,
              "the state stream is little-endian and is copied byte for byte");

StateSerializer StateSerializer::writer(std::vector<uint8_t>& out)
{
    StateSerializer s;
    s.writing = true;
    s.output = &out;
    return s;
}

StateSerializer StateSerializer::reader(const uint8_t* data, uint64_t size)
{
    StateSerializer s;
    s.writing = false;
    s.input = data;
    s.size = data != nullptr ? size : 0;
    return s;
}

bool StateSerializer::fitsCount(uint64_t count, uint64_t bytesEach) const
{
    if (writing) {
        return true;
    }
    if (bytesEach == 0) {
        return true;
    }
    return count <= remaining() / bytesEach;
}

bool StateSerializer::transfer(void* value, size_t bytes)
{
    if (writing) {
        if (output == nullptr) {
            return false;
        }
        const auto* p = static_cast<const uint8_t*>(value);
        output->insert(output->end(), p, p + bytes);
        return true;
    }
    if (input == nullptr || position > size || bytes > size - position) {
        return false;
    }
    std::memcpy(value, input + position, bytes);
    position += bytes;
    return true;
}

bool StateSerializer::io(uint8_t& v)
{
    return transfer(&v, 1);
}
bool StateSerializer::io(uint32_t& v)
{
    return transfer(&v, 4);
}
bool StateSerializer::io(int32_t& v)
{
    return transfer(&v, 4);
}
bool StateSerializer::io(uint64_t& v)
{
    return transfer(&v, 8);
}
bool StateSerializer::io(int64_t& v)
{
    return transfer(&v, 8);
}
bool StateSerializer::io(float& v)
{
    return transfer(&v, 4);
}
bool StateSerializer::io(double& v)
{
    return transfer(&v, 8);
}

bool StateSerializer::ioBool(bool& v)
{
    uint8_t byte = v ? 1 : 0;
    if (!io(byte)) {
        return false;
    }
    if (!writing) {
        v = byte != 0;
    }
    return true;
}

bool StateSerializer::ioBool(uint8_t& v)
{
    bool flag = v != 0;
    if (!ioBool(flag)) {
        return false;
    }
    v = flag ? 1 : 0;
    return true;
}

bool StateSerializer::ioString(std::string& v)
{
    if (writing) {
        if (v.size() > 0xFFFFFFFFu) {
            return false;
        }
        uint32_t length = static_cast<uint32_t>(v.size());
        if (!io(length) || length > kMaxStringBytes) {
            return false;
        }
        output->insert(output->end(), v.begin(), v.end());
        return true;
    }
    const uint64_t start = position;
    uint32_t length = 0;
    if (!io(length)) {
        return false;
    }
    if (length > kMaxStringBytes || length > remaining()) {
        position = start;
        return false;
    }
    v.assign(reinterpret_cast<const char*>(input + position), length);
    position += length;
    return true;
}

} // namespace vesk
