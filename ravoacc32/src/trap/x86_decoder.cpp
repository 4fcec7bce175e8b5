#include "trap/x86_decoder.h"

namespace ravotrap {

namespace {

constexpr int kMaxInstructionLength = 15;

struct Prefixes {
    bool OperandSize;  // 66
    bool AddressSize;  // 67
    uint8_t Segment;
    uint8_t Rex;  // 0 when none (only the REX that directly precedes the opcode counts)
};

bool RexW(const Prefixes& p) {
    return (p.Rex & 8) != 0;
}
int RexR(const Prefixes& p) {
    return (p.Rex & 4) ? 8 : 0;
}
int RexX(const Prefixes& p) {
    return (p.Rex & 2) ? 8 : 0;
}
int RexB(const Prefixes& p) {
    return (p.Rex & 1) ? 8 : 0;
}

uint32_t ReadLittle(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

int64_t SignExtend(uint64_t value, int bytes) {
    const int shift = 64 - bytes * 8;
    return static_cast<int64_t>(value << shift) >> shift;
}

// The memory operand of a ModRM byte at code[*pos] (32- or 64-bit addressing).
// Fills the register field into *regField and advances *pos past the ModRM,
// SIB and displacement bytes. False for a register operand.
bool DecodeModRm(const uint8_t* code, int* pos, CpuMode mode, const Prefixes& prefixes,
                 int* regField, DecodedAccess* access) {
    const uint8_t modrm = code[(*pos)++];
    const int mod = modrm >> 6;
    const int rm = modrm & 7;
    *regField = ((modrm >> 3) & 7) | RexR(prefixes);
    if (mod == 3) {
        return false;
    }
    access->Base = kNoRegister;
    access->Index = kNoRegister;
    access->Scale = 1;
    access->Displacement = 0;
    int displacementBytes = mod == 1 ? 1 : (mod == 2 ? 4 : 0);
    if (rm == 4) {
        const uint8_t sib = code[(*pos)++];
        const int index = ((sib >> 3) & 7) | RexX(prefixes);
        const int base = sib & 7;
        access->Scale = static_cast<uint8_t>(1u << (sib >> 6));
        if (index != 4) {
            access->Index = static_cast<int8_t>(index);
        }
        if (base == 5 && mod == 0) {
            displacementBytes = 4;
        } else {
            access->Base = static_cast<int8_t>(base | RexB(prefixes));
        }
    } else if (rm == 5 && mod == 0) {
        displacementBytes = 4;
        if (mode == CpuMode::Bits64) {
            access->Base = kRipBase;
        }
    } else {
        access->Base = static_cast<int8_t>(rm | RexB(prefixes));
    }
    if (displacementBytes > 0) {
        access->Displacement =
            SignExtend(ReadLittle(code + *pos, displacementBytes), displacementBytes);
        *pos += displacementBytes;
    }
    return true;
}

// Operand size of the instructions whose size follows 66 and REX.W.
uint8_t OperandBytes(const Prefixes& prefixes) {
    if (RexW(prefixes)) {
        return 8;
    }
    return prefixes.OperandSize ? 2 : 4;
}

// An 8-bit register operand: without REX, encodings 4 to 7 are ah to bh.
void SetByteRegister(int regField, const Prefixes& prefixes, DecodedAccess* access) {
    if (prefixes.Rex == 0 && regField >= 4 && regField <= 7) {
        access->Register = static_cast<uint8_t>(regField - 4);
        access->HighByte = true;
    } else {
        access->Register = static_cast<uint8_t>(regField);
    }
}

}  // namespace

bool DecodeAccess(const uint8_t* code, CpuMode mode, DecodedAccess* access) {
    *access = DecodedAccess{};
    Prefixes prefixes{};
    int pos = 0;
    for (;; ++pos) {
        if (pos >= kMaxInstructionLength) {
            return false;
        }
        const uint8_t b = code[pos];
        if (b == 0x66) {
            prefixes.OperandSize = true;
        } else if (b == 0x67) {
            prefixes.AddressSize = true;
        } else if (b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 || b == 0x65) {
            prefixes.Segment = b;
        } else if (mode == CpuMode::Bits64 && (b & 0xF0) == 0x40) {
            prefixes.Rex = b;
            continue;
        } else {
            break;  // lock and rep prefixes fall through to the opcode and are refused there
        }
        prefixes.Rex = 0;  // a legacy prefix after REX voids it
    }
    if (mode == CpuMode::Bits32 && prefixes.AddressSize) {
        return false;  // 16-bit addressing
    }
    access->AddressSize = (mode == CpuMode::Bits64 && !prefixes.AddressSize) ? 8 : 4;
    access->Segment = prefixes.Segment;

    int regField = 0;
    uint8_t opcode = code[pos++];
    bool twoByte = false;
    if (opcode == 0x0F) {
        twoByte = true;
        opcode = code[pos++];
    }

    if (!twoByte && opcode >= 0xA0 && opcode <= 0xA3) {
        const bool byteForm = (opcode & 1) == 0;
        const int offsetBytes = access->AddressSize;
        uint64_t offset = ReadLittle(code + pos, 4);
        if (offsetBytes == 8) {
            offset |= static_cast<uint64_t>(ReadLittle(code + pos + 4, 4)) << 32;
        }
        pos += offsetBytes;
        access->Base = kNoRegister;
        access->Index = kNoRegister;
        access->Scale = 1;
        access->Displacement = static_cast<int64_t>(offset);
        access->Register = 0;
        access->Width = byteForm ? 1 : OperandBytes(prefixes);
        access->RegisterWidth = access->Width;
        access->Dir = opcode <= 0xA1 ? Direction::Load : Direction::Store;
    } else if (!twoByte && (opcode == 0x88 || opcode == 0x8A)) {
        if (!DecodeModRm(code, &pos, mode, prefixes, &regField, access)) {
            return false;
        }
        SetByteRegister(regField, prefixes, access);
        access->Width = 1;
        access->RegisterWidth = 1;
        access->Dir = opcode == 0x8A ? Direction::Load : Direction::Store;
    } else if (!twoByte && (opcode == 0x89 || opcode == 0x8B)) {
        if (!DecodeModRm(code, &pos, mode, prefixes, &regField, access)) {
            return false;
        }
        access->Register = static_cast<uint8_t>(regField);
        access->Width = OperandBytes(prefixes);
        access->RegisterWidth = access->Width;
        access->Dir = opcode == 0x8B ? Direction::Load : Direction::Store;
    } else if (!twoByte && (opcode == 0xC6 || opcode == 0xC7)) {
        if (!DecodeModRm(code, &pos, mode, prefixes, &regField, access) || (regField & 7) != 0) {
            return false;
        }
        access->Width = opcode == 0xC6 ? 1 : OperandBytes(prefixes);
        const int immediateBytes = access->Width == 8 ? 4 : access->Width;
        access->HasImmediate = true;
        access->Immediate = ReadLittle(code + pos, immediateBytes);
        pos += immediateBytes;
        access->Dir = Direction::Store;
    } else if (!twoByte && opcode == 0x63 && mode == CpuMode::Bits64) {
        if (!DecodeModRm(code, &pos, mode, prefixes, &regField, access)) {
            return false;
        }
        access->Register = static_cast<uint8_t>(regField);
        access->Dir = Direction::Load;
        if (RexW(prefixes)) {
            access->Width = 4;
            access->RegisterWidth = 8;
            access->Extend = Extension::Sign;
        } else {
            access->Width = prefixes.OperandSize ? 2 : 4;
            access->RegisterWidth = access->Width;
        }
    } else if (twoByte && (opcode == 0xB6 || opcode == 0xB7 || opcode == 0xBE || opcode == 0xBF)) {
        if (!DecodeModRm(code, &pos, mode, prefixes, &regField, access)) {
            return false;
        }
        access->Register = static_cast<uint8_t>(regField);
        access->Dir = Direction::Load;
        access->Width = (opcode & 1) ? 2 : 1;
        access->RegisterWidth = OperandBytes(prefixes);
        access->Extend = opcode <= 0xB7 ? Extension::Zero : Extension::Sign;
    } else {
        return false;
    }
    if (access->Width == 8 || pos > kMaxInstructionLength) {
        return false;
    }
    access->Length = static_cast<uint8_t>(pos);
    return true;
}

uint64_t EffectiveAddress(const DecodedAccess& access, const CpuRegisters& registers,
                          CpuMode mode) {
    const uint64_t registerMask = mode == CpuMode::Bits64 ? ~0ull : 0xFFFFFFFFull;
    uint64_t address = static_cast<uint64_t>(access.Displacement);
    if (access.Base == kRipBase) {
        address += registers.Ip + access.Length;
    } else if (access.Base != kNoRegister) {
        address += registers.Gpr[access.Base] & registerMask;
    }
    if (access.Index != kNoRegister) {
        address += (registers.Gpr[access.Index] & registerMask) * access.Scale;
    }
    return access.AddressSize == 4 ? (address & 0xFFFFFFFFull) : address;
}

uint64_t MergeLoad(const DecodedAccess& access, uint64_t oldValue, uint32_t value, CpuMode mode) {
    const uint64_t raw = access.Width == 4 ? value : (value & ((1u << (access.Width * 8)) - 1));
    const uint64_t extended = access.Extend == Extension::Sign
                                  ? static_cast<uint64_t>(SignExtend(raw, access.Width))
                                  : raw;
    switch (access.RegisterWidth) {
        case 1:
            if (access.HighByte) {
                return (oldValue & ~0xFF00ull) | ((extended & 0xFF) << 8);
            }
            return (oldValue & ~0xFFull) | (extended & 0xFF);
        case 2:
            return (oldValue & ~0xFFFFull) | (extended & 0xFFFF);
        case 4:
            // A 32-bit register write clears the upper half in 64-bit mode.
            if (mode == CpuMode::Bits64) {
                return extended & 0xFFFFFFFFull;
            }
            return (oldValue & ~0xFFFFFFFFull) | (extended & 0xFFFFFFFFull);
        default:
            return extended;
    }
}

uint32_t StoreValue(const DecodedAccess& access, uint64_t sourceValue) {
    uint64_t value = access.HasImmediate ? access.Immediate : sourceValue;
    if (access.HighByte) {
        value >>= 8;
    }
    return access.Width == 4 ? static_cast<uint32_t>(value)
                             : static_cast<uint32_t>(value & ((1u << (access.Width * 8)) - 1));
}

}  // namespace ravotrap
