// The ME as the host interface at 0xFED10000 shows it: two circular buffers
// with their pointers and depths, the ready bits, the interrupt bits, and an
// engine that takes the host's messages and answers the memory
// initialization client.
//
// The engine looks at the host buffer only when the host sets host control
// bit 2 (interrupt generate). A short while later (ackDelayNs) it takes every
// complete chunk the buffer holds, clears bit 2 and advances the 2-bit
// hand-off counter in bits 11:10 of configuration register 0x40 of 0:3.0.
// Replies go into the engine buffer in chunks that fit its depth, each
// raising host control bit 1 (interrupt status, cleared by writing 1).
#include <algorithm>

#include "board_internal.h"

namespace memboard {

namespace {

constexpr uint32_t kEngineDevice = 0 << 8 | 3 << 3 | 0;

}  // namespace

bool Board::Impl::EngineReady() const {
    return cfg.engine.readyAfterNs >= 0 && now >= static_cast<uint64_t>(cfg.engine.readyAfterNs);
}

uint32_t Board::Impl::HostControlWord() const {
    return (hostControl & 0xFF) | static_cast<uint32_t>(hostRead) << 8 |
           static_cast<uint32_t>(hostWrite) << 16 | (cfg.engine.hostDepth & 0xFF) << 24;
}

uint32_t Board::Impl::EngineStatusWord() const {
    return (EngineReady() ? 0x08u : 0u) | static_cast<uint32_t>(engineRead) << 8 |
           static_cast<uint32_t>(engineWrite) << 16 | (cfg.engine.engineDepth & 0xFF) << 24;
}

void Board::Impl::EngineWriteControl(uint32_t value, uint32_t byteMask) {
    if (!(byteMask & 1)) {
        return;  // pointers and depth belong to the hardware
    }
    uint8_t b = static_cast<uint8_t>(value);
    if (b & 0x02) {
        hostControl &= ~0x02u;  // interrupt status: write one to clear
    }
    hostControl = (hostControl & ~0x19u) | (b & 0x19u);
    if (b & 0x04) {
        hostControl |= 0x04;  // only the engine clears interrupt generate
        if (!ackPending) {
            ackPending = true;
            ackDue = now + cfg.engine.ackDelayNs;
        }
    }
}

void Board::Impl::EngineWriteWindow(uint32_t value, unsigned width) {
    if (width != 4) {
        Violate("host buffer window written with " + std::to_string(width) + " bytes");
    }
    if (hostQueue.size() >= cfg.engine.hostDepth) {
        Violate("host buffer overflow: dword dropped");
        return;
    }
    hostQueue.push_back(value);
    ++hostWrite;
}

uint32_t Board::Impl::EnginePop() {
    if (engineQueue.empty()) {
        Violate("engine buffer window read while the buffer is empty");
        return 0;
    }
    uint32_t v = engineQueue.front();
    engineQueue.pop_front();
    ++engineRead;
    return v;
}

namespace {

void QueueReply(Board::Impl& b, uint8_t engineAddress, uint8_t hostAddress,
                const std::vector<uint8_t>& bytes) {
    unsigned depth = b.cfg.engine.engineDepth;
    if (depth < 2) {
        b.Violate("engine buffer too small for any reply");
        return;
    }
    // A chunk's length field has nine bits.
    size_t room = std::min<size_t>((depth - 1) * 4, 508), sent = 0;
    unsigned chunks = 0;
    do {
        size_t len = std::min(room, bytes.size() - sent);
        bool last = sent + len == bytes.size();
        Chunk c;
        c.dwords.push_back(engineAddress | hostAddress << 8 | static_cast<uint32_t>(len) << 16 |
                           (last ? 0x80000000u : 0));
        for (size_t i = 0; i < len; i += 4) {
            uint32_t d = 0;
            for (size_t k = 0; k < 4 && i + k < len; ++k) {
                d |= static_cast<uint32_t>(bytes[sent + i + k]) << (8 * k);
            }
            c.dwords.push_back(d);
        }
        b.outgoing.push_back(c);
        sent += len;
        ++chunks;
    } while (sent < bytes.size());
    b.messages.push_back({false, engineAddress, hostAddress, chunks, bytes, b.now});
    b.replyDue = b.now + b.cfg.engine.replyDelayNs;
}

void HandleMessage(Board::Impl& b, uint8_t engineAddress, uint8_t hostAddress,
                   const std::vector<uint8_t>& bytes) {
    if (engineAddress != b.cfg.engine.clientAddress || bytes.empty()) {
        return;
    }
    uint8_t command = bytes[0];
    ReplyConfig reply;
    auto it = b.cfg.engine.replies.find(command);
    if (it != b.cfg.engine.replies.end()) {
        reply = it->second;
    } else if (command == 0x08) {
        reply.status = {0, 0};
    } else if (command == 0x0A) {
        reply.status = {0};
    } else {
        return;  // the client knows no other request
    }
    if (reply.silent) {
        return;
    }
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(reply.command >= 0 ? reply.command : command | 0x80));
    out.insert(out.end(), reply.status.begin(), reply.status.end());
    if (reply.length >= 0) {
        out.resize(static_cast<size_t>(reply.length), 0);
    }
    QueueReply(b, engineAddress, hostAddress, out);
}

void TakeHostChunks(Board::Impl& b) {
    while (!b.hostQueue.empty()) {
        uint32_t header = b.hostQueue.front();
        unsigned len = (header >> 16) & 0x1FF;
        size_t need = 1 + (len + 3) / 4;
        if (need > b.cfg.engine.hostDepth) {
            b.Violate("host chunk of " + std::to_string(len) +
                      " bytes cannot fit the host buffer; buffer discarded");
            b.hostRead = static_cast<uint8_t>(b.hostRead + b.hostQueue.size());
            b.hostQueue.clear();
            return;
        }
        if (b.hostQueue.size() < need) {
            return;  // the rest of the chunk has not been written yet
        }
        if (header & 0x7E000000u) {
            b.Violate("host chunk header with bits 30:25 set");
        }
        b.hostQueue.pop_front();
        for (size_t i = 1; i < need; ++i) {
            uint32_t d = b.hostQueue.front();
            b.hostQueue.pop_front();
            for (unsigned k = 0; k < 4; ++k) {
                if ((i - 1) * 4 + k < len) {
                    b.assembling.push_back(static_cast<uint8_t>(d >> (8 * k)));
                }
            }
        }
        b.hostRead = static_cast<uint8_t>(b.hostRead + need);
        ++b.assemblingChunks;
        if (header & 0x80000000u) {
            uint8_t engineAddress = header & 0xFF, hostAddress = (header >> 8) & 0xFF;
            b.messages.push_back(
                {true, engineAddress, hostAddress, b.assemblingChunks, b.assembling, b.now});
            std::vector<uint8_t> bytes;
            bytes.swap(b.assembling);
            b.assemblingChunks = 0;
            HandleMessage(b, engineAddress, hostAddress, bytes);
        }
    }
}

}  // namespace

void Board::Impl::EngineTick() {
    if (!EngineReady()) {
        return;
    }
    if (ackPending && now >= ackDue) {
        ackPending = false;
        TakeHostChunks(*this);
        if (cfg.engine.clearsInterrupt) {
            hostControl &= ~0x04u;
        }
        auto dev = pci.find(kEngineDevice);
        if (cfg.engine.togglesStatus && dev != pci.end()) {
            uint8_t& b = dev->second.bytes[0x41];
            b = static_cast<uint8_t>((b & ~0x0C) | ((b + 0x04) & 0x0C));
        }
    }
    while (!outgoing.empty() && now >= replyDue) {
        const Chunk& c = outgoing.front();
        if (engineQueue.size() + c.dwords.size() > cfg.engine.engineDepth) {
            break;  // wait for the host to make room
        }
        for (uint32_t d : c.dwords) {
            engineQueue.push_back(d);
            ++engineWrite;
        }
        hostControl |= 0x02;
        outgoing.pop_front();
    }
}

void Board::Impl::EngineReset() {
    hostQueue.clear();
    engineQueue.clear();
    hostRead = hostWrite = engineRead = engineWrite = 0;
    hostControl = 0;
    ackPending = false;
    assembling.clear();
    assemblingChunks = 0;
    outgoing.clear();
}

}  // namespace memboard
