/* The demo's music, pictures and captions as read-only byte arrays with C
   linkage (declared in assets.h). Each blob is followed by a 32-bit size
   symbol holding its length in bytes. The files sit next to this source; the
   build passes this folder to the assembler as an include path and lists the
   files as dependencies, so regenerating an asset rebuilds the object. */

#if defined(_WIN32)
/* PE/COFF: read-only data sections ("dr"), no symbol types or sizes. */
.macro BLOB name, file
    .section .rdata$\name, "dr"
    .balign 16
    .global \name
\name:
    .incbin "\file"
.L\name\()_end:
    .balign 4
    .global \name\()Size
\name\()Size:
    .long .L\name\()_end - \name
.endm
#elif defined(__wasm__)
/* WebAssembly objects: data sections take no flags or section type. */
.macro BLOB name, file
    .section .rodata.\name,"",@
    .p2align 4
    .globl \name
    .type \name,@object
\name:
    .incbin "\file"
.L\name\()_end:
    .size \name, .L\name\()_end - \name
    .section .rodata.\name\()Size,"",@
    .p2align 2
    .globl \name\()Size
    .type \name\()Size,@object
\name\()Size:
    .int32 .L\name\()_end - \name
    .size \name\()Size, 4
.endm
#else
.macro BLOB name, file
    .section .rodata.\name, "a", @progbits
    .balign 16
    .global \name
    .type \name, @object
\name:
    .incbin "\file"
.L\name\()_end:
    .size \name, .L\name\()_end - \name
    .section .rodata.\name\()Size, "a", @progbits
    .balign 4
    .global \name\()Size
    .type \name\()Size, @object
\name\()Size:
    .long .L\name\()_end - \name
    .size \name\()Size, 4
.endm
#endif

BLOB MusicModule,   "zephyra.xm"
BLOB ObjectImage0,  "object0.jpg"
BLOB ObjectImage1,  "object1.jpg"
BLOB ObjectImage2,  "object2.jpg"
BLOB ObjectImage3,  "object3.jpg"
BLOB ObjectImage4,  "object4.jpg"
BLOB ObjectImage5,  "object5.jpg"
BLOB ObjectImage6,  "object6.jpg"
BLOB FloorImage,    "floor.jpg"
BLOB CaptionImageA, "caption_a.raw"
BLOB CaptionImageB, "caption_b.raw"

#if !defined(_WIN32) && !defined(__wasm__)
/* No executable stack. */
.section .note.GNU-stack, "", @progbits
#endif
