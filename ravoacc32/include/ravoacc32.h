/*
 * ravoacc32 - physical hardware access library (PCI configuration space, I/O
 * ports, mapping of physical memory).
 *
 * This is the interface kelvor binds to at load time. Our implementation of
 * it runs every access against a virtual board (see boards/spi); a hardware
 * backend can take its place behind the same functions.
 *
 * Calling convention: every function is __cdecl with plain C linkage and no
 * name decoration on 32-bit Windows (RAVOCALL below); on Linux it is the
 * platform's C calling convention. All request blocks are runs of unsigned
 * 32-bit little-endian fields whose first field holds the block's size in
 * bytes; the library refuses a block whose size field is wrong.
 *
 * Every function returns non-zero on success and 0 on failure; after a
 * failure RavoGetLastError gives a text that says why. Nothing aborts the
 * process.
 */
#ifndef RAVOACC32_H
#define RAVOACC32_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(RAVOACC32_BUILDING)
#define RAVOAPI __declspec(dllexport)
#else
#define RAVOAPI __declspec(dllimport)
#endif
#define RAVOCALL __cdecl
#else
#define RAVOAPI __attribute__((visibility("default")))
#define RAVOCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Operation codes of the request blocks. */
#define RAVO_PCI_READ32 3u   /* read one 32-bit configuration register */
#define RAVO_PCI_WRITE32 6u  /* write one 32-bit configuration register */
#define RAVO_IO_WRITE8 4u    /* write one byte to an I/O port */
#define RAVO_MAP_UNCACHED 2u /* map a physical page for uncached access */

#define RAVO_INIT_BLOCK_SIZE 17168u
#define RAVO_ERROR_TEXT_SIZE 256u

/* Opened once per process; only Size is read, the rest is the library's. */
typedef struct RavoInitBlock {
    uint32_t Size; /* = RAVO_INIT_BLOCK_SIZE */
    uint32_t Private[(RAVO_INIT_BLOCK_SIZE - 4u) / 4u];
} RavoInitBlock;

typedef struct RavoPciRequest {
    uint32_t Size;          /* = 28 */
    uint32_t Operation;     /* RAVO_PCI_READ32 or RAVO_PCI_WRITE32 */
    uint32_t ConfigAddress; /* bit 31 enable, 23:16 bus, 15:11 device, 10:8 function, 7:0 reg */
    uint32_t Reserved0;     /* 0 for a write, ignored for a read */
    uint32_t WriteValue;    /* the value to write (writes only) */
    uint32_t Reserved1;     /* ignored */
    uint32_t ReadValue;     /* the value read, valid after a successful read */
} RavoPciRequest;

typedef struct RavoMapRequest {
    uint32_t Size;            /* = 16 */
    uint32_t PhysicalAddress; /* page address, a multiple of 4096 */
    uint32_t Mode;            /* RAVO_MAP_UNCACHED */
    uint32_t VirtualAddress;  /* 0 on entry; the mapped page after success */
} RavoMapRequest;

typedef struct RavoIoRequest {
    uint32_t Size;      /* = 16 */
    uint32_t Operation; /* RAVO_IO_WRITE8 */
    uint32_t Port;
    uint32_t Value;
} RavoIoRequest;

/* Opens the library; Reserved must be 0. */
RAVOAPI int32_t RAVOCALL RavoInit(uint32_t Reserved, RavoInitBlock* Block);
/* Closes the library; harmless when it was never opened. */
RAVOAPI int32_t RAVOCALL RavoDestroy(void);
RAVOAPI int32_t RAVOCALL RavoPCI(RavoPciRequest* Request);
/*
 * Maps one 4 KB page of physical address space. The virtual address fits
 * the 32-bit field exactly (on 64-bit hosts the page is placed below 4 GB).
 * Accesses through it are 8-, 16- or 32-bit loads and stores, performed on
 * the device with their exact width and in program order.
 */
RAVOAPI int32_t RAVOCALL RavoMapPhys(RavoMapRequest* Request);
RAVOAPI int32_t RAVOCALL RavoUnmapPhys(RavoMapRequest* Request);
RAVOAPI int32_t RAVOCALL RavoIO(RavoIoRequest* Request);
/* Copies the text of the last failure, NUL-terminated, into Buffer. */
RAVOAPI int32_t RAVOCALL RavoGetLastError(char* Buffer, uint32_t BufferSize);

#ifdef __cplusplus
}
#endif

#endif /* RAVOACC32_H */
