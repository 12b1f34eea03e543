#include "SmfBanks.h"

#include <array>
#include <cstring>

namespace kelvra {

namespace {

uint32_t Be32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
void PutBe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v >> 24);
    out[at + 1] = static_cast<uint8_t>(v >> 16);
    out[at + 2] = static_cast<uint8_t>(v >> 8);
    out[at + 3] = static_cast<uint8_t>(v);
}
void PutVlq(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
    while (n) out.push_back(buf[--n]);
}
bool GetVlq(std::span<const uint8_t> d, size_t& pos, uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= d.size()) return false;
        const uint8_t b = d[pos++];
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return false;
}

bool Track(std::span<const uint8_t> d, std::vector<uint8_t>& out, std::string& error) {
    size_t pos = 0;
    uint8_t running = 0;
    std::array<bool, 16> bankSet{};  // a bank select came since the last program change
    while (pos < d.size()) {
        uint32_t delta = 0;
        if (!GetVlq(d, pos, delta)) return error = "bad delta time", false;
        if (pos >= d.size()) return error = "track ends inside an event", false;
        uint8_t status = d[pos];
        if (status & 0x80) {
            ++pos;
        } else if (running) {
            status = running;
        } else {
            return error = "data byte without a status", false;
        }
        if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            size_t start = pos;
            if (status == 0xFF) {
                if (pos >= d.size()) return error = "truncated meta event", false;
                ++pos;
            }
            uint32_t len = 0;
            if (!GetVlq(d, pos, len) || len > d.size() - pos) return error = "event runs past its track", false;
            pos += len;
            PutVlq(out, delta);
            out.push_back(status);
            out.insert(out.end(), d.begin() + static_cast<ptrdiff_t>(start), d.begin() + static_cast<ptrdiff_t>(pos));
            if (status != 0xFF) running = 0;
            continue;
        }
        if (status >= 0xF0) return error = "system message inside a track", false;
        running = status;
        const uint8_t kind = status & 0xF0;
        const unsigned channel = status & 0x0F;
        const size_t dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (dataBytes > d.size() - pos) return error = "event runs past its track", false;
        if (kind == 0xB0 && (d[pos] == 0 || d[pos] == 32)) bankSet[channel] = true;
        if (kind == 0xC0) {
            if (!bankSet[channel]) {
                PutVlq(out, delta);
                out.insert(out.end(),
                           {static_cast<uint8_t>(0xB0 | channel), 0, static_cast<uint8_t>(channel == 9 ? 120 : 121)});
                out.push_back(0);
                out.insert(out.end(), {static_cast<uint8_t>(0xB0 | channel), 32, 0});
                delta = 0;
            }
            bankSet[channel] = false;
        }
        PutVlq(out, delta);
        out.push_back(status);
        out.insert(out.end(), d.begin() + static_cast<ptrdiff_t>(pos),
                   d.begin() + static_cast<ptrdiff_t>(pos + dataBytes));
        pos += dataBytes;
    }
    return true;
}

}  // namespace

bool InsertBankSelects(std::span<const uint8_t> in, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (in.size() < 14 || std::memcmp(in.data(), "MThd", 4) != 0 || Be32(&in[4]) < 6 || Be32(&in[4]) > in.size() - 8)
        return error = "not a Standard MIDI File", false;
    size_t pos = 0;
    while (pos < in.size()) {
        if (in.size() - pos < 8) return error = "truncated chunk header", false;
        const uint32_t len = Be32(&in[pos + 4]);
        if (len > in.size() - pos - 8) return error = "chunk runs past the end of the file", false;
        auto body = in.subspan(pos + 8, len);
        const size_t headerAt = out.size();
        out.insert(out.end(), in.begin() + static_cast<ptrdiff_t>(pos), in.begin() + static_cast<ptrdiff_t>(pos + 8));
        if (std::memcmp(&in[pos], "MTrk", 4) == 0) {
            if (!Track(body, out, error)) return false;
            PutBe32(out, headerAt + 4, static_cast<uint32_t>(out.size() - headerAt - 8));
        } else {
            out.insert(out.end(), body.begin(), body.end());
        }
        pos += 8 + len;
    }
    return true;
}

}  // namespace kelvra
