/*
 * corvex boot-flash image. It runs in place, before RAM exists, so it holds
 * code and read-only data only; the image checks reject any writable section.
 *
 * Linked at 0xFFF80000: boot firmware places corvex.bin in flash so that its
 * first byte appears there in the top 512 KB of the 4 GB space.
 *
 * Image header at offset 0 (little-endian), read by boot firmware:
 *   0x00  u32  magic 0x58565243 (the bytes "CRVX")
 *   0x04  u16  header version, 1
 *   0x06  u16  header size in bytes, 0x14
 *   0x08  u32  link address, 0xFFF80000
 *   0x0C  u32  offset of MemInitEntry from the start of the image
 *   0x10  u32  image size in bytes (the size of corvex.bin)
 * MemInitEntry is a cdecl function: u32 MemInitEntry(MemInitInput*, MemInitOutput*).
 */
OUTPUT_FORMAT("elf32-i386")
OUTPUT_ARCH(i386)
ENTRY(MemInitEntry)

CORVEX_LINK_ADDRESS = 0xFFF80000;

SECTIONS
{
    . = CORVEX_LINK_ADDRESS;
    __corvex_image_start = .;

    .corvex_header : {
        LONG(0x58565243)
        SHORT(1)
        SHORT(0x14)
        LONG(CORVEX_LINK_ADDRESS)
        LONG(MemInitEntry - __corvex_image_start)
        LONG(__corvex_image_end - __corvex_image_start)
    }

    .text ALIGN(16) : {
        *(.text.MemInitEntry)
        *(.text .text.*)
    }

    .rodata ALIGN(4) : {
        *(.rodata .rodata.*)
    }

    __corvex_image_end = .;

    /* Everything else (.data, .bss, ...) is placed as an orphan after the
     * image, where the image checks find it. */

    /DISCARD/ : {
        *(.comment)
        *(.note .note.*)
        *(.eh_frame .eh_frame_hdr)
    }
}
