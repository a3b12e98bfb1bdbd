// The plug-in state stream: one object that both writes and reads it.
//
// Design: the body of the state is described once, by a function that calls the transfer
// operations below in order (serializeState), and the direction is a property of the serializer.
// Writing and reading therefore cannot drift apart: a field added on one side is added on both.
// Every transfer is little-endian, unpadded and unaligned. A read that would run past the end of
// the input fails, leaving the value and the position unchanged, and the caller stops at the
// first failure. Counts read from the stream are checked against the bytes that remain before
// they size anything (fitsCount), so damaged input can never make the reader allocate or loop
// beyond the size of the input itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesk {

class StateSerializer
{
public:
    // Longest string either direction accepts, in bytes.
    static constexpr uint32_t kMaxStringBytes = 4096;
    static constexpr uint32_t kMagic = 0x5645534B; // bytes "K", "S", "E", "V"
    static constexpr uint32_t kVersion = 1;

    // [any thread] A writer appending to `out`.
    static StateSerializer writer(std::vector<uint8_t>& out);
    // [any thread] A reader over size bytes (which must outlive the reader).
    static StateSerializer reader(const uint8_t* data, uint64_t size);

    bool io(uint8_t& v);
    bool io(uint32_t& v);
    bool io(int32_t& v);
    bool io(uint64_t& v);
    bool io(int64_t& v);
    bool io(float& v);
    bool io(double& v);
    // 1 byte: written as 0 or 1; any non-zero byte reads as true.
    bool ioBool(bool& v);
    // The same for a flag held in a byte: written as 0 or 1, read as 0 or 1.
    bool ioBool(uint8_t& v);
    // uint32 length L, then L bytes. L above kMaxStringBytes fails in both directions (when
    // writing, after the length has been appended).
    bool ioString(std::string& v);

    // Reading: bytes not yet read. Writing: 0.
    uint64_t remaining() const { return writing ? 0 : size - position; }
    // Reading: whether count records of at least bytesEach bytes can still follow. Always true
    // when writing.
    bool fitsCount(uint64_t count, uint64_t bytesEach) const;

    bool writing = true;
    uint32_t version = kVersion;
    std::vector<uint8_t>* output = nullptr;
    const uint8_t* input = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;

private:
    bool transfer(void* value, size_t bytes);
};

} // namespace vesk
